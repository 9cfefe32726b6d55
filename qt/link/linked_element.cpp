#include "qt/link/linked_element.h"

namespace ubin::link {

LinkedElement::LinkedElement(QObject* parent) : QObject(parent)
{
    connect(&client_, &LinkClient::ItemData, this, [this](const QString& item, const QString& text) {
        if (mode_ == 1 && item.compare(item_, Qt::CaseInsensitive) == 0) SetText(text);
    });
    connect(&client_, &LinkClient::ItemChanged, this, [this](const QString& item) {
        if (mode_ == 3 && item.compare(item_, Qt::CaseInsensitive) == 0) emit LinkNotify();
    });
    connect(&client_, &LinkClient::Disconnected, this, [this] {
        error_ = client_.ErrorString();
        mode_ = 0;
        emit LinkClosed();
    });
}

LinkedElement::LinkedElement(const QString& item, QObject* parent) : LinkedElement(parent)
{
    item_ = item;
}

void LinkedElement::SetLinkTopic(const QString& topic)
{
    if (topic == topic_) return;
    CloseLink();
    topic_ = topic;
}

void LinkedElement::SetLinkItem(const QString& item)
{
    if (item == item_) return;
    CloseLink();
    item_ = item;
}

bool LinkedElement::SetLinkMode(int mode)
{
    if (mode < 0 || mode > 3) {
        error_ = QStringLiteral("link mode %1 is not 0 to 3").arg(mode);
        CloseLink();
        return false;
    }
    CloseLink();
    if (mode == 0) return true;
    if (!client_.Connect(topic_, timeoutMs_)) {
        error_ = client_.ErrorString();
        return false;
    }
    if ((mode == 1 || mode == 3) && !item_.isEmpty()) {
        QString current;
        if (!client_.Advise(item_, mode == 1 ? LinkMode::Hot : LinkMode::Notify, &current, timeoutMs_)) {
            error_ = client_.ErrorString();
            client_.Disconnect();
            return false;
        }
        mode_ = mode;
        if (mode == 1) SetText(current);
        return true;
    }
    mode_ = mode;
    return true;
}

bool LinkedElement::LinkRequest()
{
    if (mode_ == 0) {
        error_ = QStringLiteral("the element is not linked");
        return false;
    }
    const auto text = client_.Request(item_, timeoutMs_);
    if (!text) {
        error_ = client_.ErrorString();
        return false;
    }
    SetText(*text);
    return true;
}

bool LinkedElement::LinkExecute(const QString& command)
{
    lastFlag_.reset();
    if (mode_ == 0) {
        error_ = QStringLiteral("the element is not linked");
        return false;
    }
    lastFlag_ = client_.Execute(command, timeoutMs_);
    if (!lastFlag_) {
        error_ = client_.ErrorString();
        return false;
    }
    if (*lastFlag_ != 0) {
        error_ = QStringLiteral("the server refused the command (flag %1)").arg(*lastFlag_);
        return false;
    }
    return true;
}

void LinkedElement::SetText(const QString& text)
{
    if (text == text_) return;
    text_ = text;
    emit TextChanged(text_);
}

void LinkedElement::CloseLink()
{
    client_.Disconnect();
    mode_ = 0;
}

} // namespace ubin::link
