#pragma once
// What a linked label or text box offers: a link topic ("application|topic"), a link item, a
// link mode (0 none, 1 hot, 2 manual, 3 notify), a request that copies the item's text into the
// element, an execute command over the element's conversation and a change notice. The element
// holds its own text; a window shows it wherever it likes (TextChanged).
//
// Each element with a mode other than 0 holds its own conversation, as each linked element of
// a form does.
#include "qt/link/frames.h"
#include "qt/link/link_client.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace ubin::link {

class LinkedElement : public QObject {
    Q_OBJECT
public:
    explicit LinkedElement(QObject* parent = nullptr);
    explicit LinkedElement(const QString& item, QObject* parent = nullptr);

    // Setting the topic or the item of an open link closes it (the mode becomes 0).
    void SetLinkTopic(const QString& topic);
    QString LinkTopic() const { return topic_; }
    void SetLinkItem(const QString& item);
    QString LinkItem() const { return item_; }

    // 0 closes the link. 1, 2 and 3 open the conversation on the link topic and, for 1 and 3,
    // link the item; a hot link takes the item's text at once. False when no server answers,
    // the topic or item is refused or the mode is not 0 to 3: the mode is then 0 and
    // ErrorString() says why.
    bool SetLinkMode(int mode);
    int LinkMode() const { return mode_; }

    // Copies the item's current text into the element. False (text unchanged) when the element
    // is not linked, the item is unknown or the server does not answer.
    bool LinkRequest();
    // Sends the command over the element's conversation. True when the server accepted it
    // (flag 0); false when it refused it (LastAcceptanceFlag() holds the flag) or the command
    // could not be delivered (LastAcceptanceFlag() is nullopt).
    bool LinkExecute(const QString& command);
    std::optional<std::uint16_t> LastAcceptanceFlag() const { return lastFlag_; }

    QString Text() const { return text_; }
    // Sets the local text only; nothing is sent.
    void SetText(const QString& text);
    QString ErrorString() const { return error_; }

    // The time a blocking call waits for the server.
    void SetTimeout(int ms) { timeoutMs_ = ms; }

signals:
    // The element's text changed (a hot link's new text, a request, SetText).
    void TextChanged(const QString& text);
    // A notify link's item changed on the server's side; LinkRequest fetches the text.
    void LinkNotify();
    // The server ended the conversation or went away; the mode is 0 again.
    void LinkClosed();

private:
    void CloseLink();

    LinkClient client_;
    QString topic_;
    QString item_;
    QString text_;
    QString error_;
    int mode_ = 0;
    int timeoutMs_ = LinkClient::kDefaultTimeoutMs;
    std::optional<std::uint16_t> lastFlag_;
};

} // namespace ubin::link
