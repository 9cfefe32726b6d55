#pragma once
// Piroshen's window "郵便番号検索 DDE　サンプル": a client of Marubeta's link service. At start it
// makes sure Marubeta runs (offering to start it), links seven of its elements to the items of
// Marubeta's window, and then sends the typed postal code as an execute command; the change
// notices of IT1 and IT2 bring the result back.
#include "qt/link/linked_element.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

namespace Ui {
class PiroshenWindow;
}

namespace ubin::piroshen {

// The program file of Marubeta: the `marubeta` executable in `folder` (Piroshen's own folder).
QString MarubetaBeside(const QString& folder);

// Starts the program in a minimised window that takes the focus, where the platform can ask for
// one (Windows); elsewhere the window opens as the program opens it. True when a process was
// started; `pid` receives its id.
bool StartMinimised(const QString& program, qint64* pid = nullptr);

struct PiroshenSetup {
    // Marubeta's program file: tested for a size at start-up and started when the user asks.
    QString marubetaProgram;
    // The service the elements link to; the link topic is "<service>|form1".
    QString linkService = QStringLiteral("Marubeta");
    // After starting Marubeta the connection is tried again every `retryEveryMs` until it
    // succeeds or `retryForMs` have passed.
    int retryForMs = 10000;
    int retryEveryMs = 250;
    // The questions and messages of start-up (text, title) → the answer; message boxes when
    // left empty.
    std::function<bool(const QString& text, const QString& title)> askYesNo;
    std::function<bool(const QString& text, const QString& title)> askOkCancel;
    // Starts Marubeta; true when a task was started. StartMinimised when left empty.
    std::function<bool(const QString& program)> startProgram;
};

class PiroshenWindow : public QWidget {
    Q_OBJECT

public:
    // The status line's texts.
    static const QString kTitle;            // linked: the window's caption
    static const QString kNoProgram;        // Marubeta's program file is missing
    static const QString kWithoutMarubeta;  // the user declined to start Marubeta
    static const QString kLinkLost;         // a request of RefreshResults failed
    // The start-up question and the message when Marubeta cannot be started.
    static const QString kAskStartText;
    static const QString kAskStartTitle;
    static const QString kStartFailedText;
    // The message when Marubeta cannot be started: kStartFailedText, then the program file and
    // how to find out why.
    static QString StartFailedMessage(const QString& program);

    explicit PiroshenWindow(PiroshenSetup setup, QWidget* parent = nullptr);
    ~PiroshenWindow() override;

    // The window's start-up (its load). Ends at once, or, when Marubeta has just been started
    // and does not answer yet, after the retries; startUpFinished() says when.
    void Start();
    bool IsStartingUp() const { return startingUp_; }

    std::int16_t LinkState() const { return linkState_; }

    // Links the seven linked elements to Marubeta (notify links); LinkState 1 on success, 0 when
    // a step fails (the later steps are not made).
    void ConnectLinks();
    // Asks Marubeta once for the texts of Text8, Text10, Text11, Text15, Text18; false at the
    // first request that fails (the rest are not made).
    bool RequestLinkedTexts();
    // Asks Marubeta for the texts of Label3, Label4, Text10, Text11, Text15, Text18. A failing
    // request ends it: LinkState 0 and the status line says the link is lost.
    void RefreshResults();

    // The linked element standing behind a widget of that name (nullptr for unlinked ones).
    link::LinkedElement* Linked(const QString& element) const;

signals:
    void startUpFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Link {
        QWidget* widget;
        link::LinkedElement* element;
    };

    void LinkWidget(QWidget* widget, const QString& item);
    void SetStatus(const QString& text);
    void RetryConnect();
    void FinishStartUp();
    void Send();     // Command9
    void Clear();    // Command1
    void OnResultNotice();
    void EndBusy();
    static QString ShowTextOf(const QWidget* widget);
    bool Ask(const std::function<bool(const QString&, const QString&)>& hook, bool yesNo, const QString& text,
             const QString& title);

    std::unique_ptr<Ui::PiroshenWindow> ui_;
    PiroshenSetup setup_;
    std::vector<Link> links_;
    std::int16_t linkState_ = 0;
    bool startingUp_ = false;
    QTimer retryTimer_;
    qint64 retryDeadline_ = 0;
    // A blocking link call is running: change notices wait until it has ended, as the platform
    // holds back a window's events during a synchronous conversation.
    int busy_ = 0;
    bool noticePending_ = false;
};

} // namespace ubin::piroshen
