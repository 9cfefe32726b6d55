#pragma once
// ubin-link's work apart from main: its command line read into what to send, and the
// conversation that sends it, printing what comes back.
#include <QString>
#include <QStringList>

#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace ubin::link {

// Exit statuses. A command line ubin-link does not understand ends with 2, as in every tool of
// the suite; so does a service no server answers for.
constexpr int kLinkDone = 0;
constexpr int kLinkFailed = 1;    // refused or failed: unknown item, refused command or topic, link lost
constexpr int kLinkNoServer = 2;
constexpr int kLinkUsage = 2;

enum class LinkCommand { Execute, Request, Watch };

// What the command line asks to send.
struct LinkOrder {
    QString service = QStringLiteral("Marubeta");
    QString topic = QStringLiteral("Form1");
    int timeoutMs = 0;
    LinkCommand command = LinkCommand::Execute;
    QStringList texts; // the TEXT of execute, the ITEMs of request and watch
};

// Reads the arguments (UTF-8, without the program name). Returns the order, or the status to
// end with after --help or --version (printed on out) or a mistake (one line on err).
std::variant<LinkOrder, int> ParseLinkArguments(const std::vector<std::string>& args, std::ostream& out,
                                                std::ostream& err);

// Sends the order and prints the answers on out as NAME<TAB>text lines, problems on err.
// Watch runs the event loop until the link is lost. Returns the exit status.
int RunLinkOrder(const LinkOrder& order, std::ostream& out, std::ostream& err);

// An item's text as one line: backslash, tab, line feed and carriage return written \\, \t, \n, \r.
QString Escaped(const QString& text);

} // namespace ubin::link
