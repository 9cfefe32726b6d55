#include "tools/ubin-link/link_command.h"

#include "qt/link/link_client.h"
#include "tools/command_line/command_line.h"

#include <QCoreApplication>

#include <charconv>

namespace ubin::link {

namespace {

const char kProgram[] = "ubin-link";

const char kHelp[] =
    "usage: ubin-link [--service NAME] [--topic TOPIC] [--timeout MS] COMMAND ...\n"
    "  execute TEXT     send TEXT as an execute command; fails when the server refuses it\n"
    "  request ITEM...  print NAME<TAB>text for each item\n"
    "  watch ITEM...    hot links on the items: print NAME<TAB>text now and on every change,\n"
    "                   until interrupted\n"
    "  --help, --version  this text, the version\n"
    "The service defaults to Marubeta and the topic to Form1. In printed texts a backslash,\n"
    "tab, line feed and carriage return are written \\\\, \\t, \\n and \\r.\n"
    "Exit status: 0 done, 1 refused or failed, 2 no server answers or a command line it does\n"
    "not understand.\n";

void Write(std::ostream& to, const QString& line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    to.write(bytes.constData(), bytes.size());
    to.flush(); // watch prints as changes come: a pipe must see each line at once
}

void Problem(std::ostream& err, const QString& message) { Write(err, QLatin1String(kProgram) + QLatin1String(": ") + message); }

void PrintItem(std::ostream& out, const QString& item, const QString& text)
{
    Write(out, item + QLatin1Char('\t') + Escaped(text));
}

int Refuse(std::ostream& err, const std::string& problem)
{
    err << UsageLine(kProgram, problem) << '\n';
    return kLinkUsage;
}

int Execute(LinkClient& client, const LinkOrder& order, std::ostream& err)
{
    const auto flag = client.Execute(order.texts.first(), order.timeoutMs);
    if (!flag) {
        Problem(err, QStringLiteral("the command was not answered: %1").arg(client.ErrorString()));
        return kLinkFailed;
    }
    if (*flag != 0) {
        Problem(err, QStringLiteral("%1 refused the command (acceptance flag %2)").arg(order.service).arg(*flag));
        return kLinkFailed;
    }
    client.Disconnect();
    return kLinkDone;
}

int Request(LinkClient& client, const LinkOrder& order, std::ostream& out, std::ostream& err)
{
    int status = kLinkDone;
    for (const QString& item : order.texts) {
        const auto text = client.Request(item, order.timeoutMs);
        if (!text) {
            Problem(err, QStringLiteral("%1: %2").arg(item, client.ErrorString()));
            if (!client.IsConnected()) return kLinkFailed;
            status = kLinkFailed;
            continue;
        }
        PrintItem(out, item, *text);
    }
    client.Disconnect();
    return status;
}

int Watch(LinkClient& client, const LinkOrder& order, std::ostream& out, std::ostream& err)
{
    QObject::connect(&client, &LinkClient::ItemData,
                     [&out](const QString& item, const QString& text) { PrintItem(out, item, text); });
    QObject::connect(&client, &LinkClient::Disconnected, [&client, &err] {
        Problem(err, QStringLiteral("the link was lost: %1").arg(client.ErrorString()));
        QCoreApplication::exit(kLinkFailed);
    });
    for (const QString& item : order.texts) {
        QString current;
        if (!client.Advise(item, LinkMode::Hot, &current, order.timeoutMs)) {
            Problem(err, QStringLiteral("%1: %2").arg(item, client.ErrorString()));
            return kLinkFailed;
        }
        PrintItem(out, item, current);
    }
    return QCoreApplication::exec();
}

} // namespace

std::variant<LinkOrder, int> ParseLinkArguments(const std::vector<std::string>& args, std::ostream& out,
                                                std::ostream& err)
{
    CLI::App app("Talks to a running Marubeta (or any link service).", kProgram);
    std::string service = "Marubeta", topic = "Form1";
    LinkOrder order;
    order.timeoutMs = LinkClient::kDefaultTimeoutMs;
    app.add_option("--service", service, "the link service (default Marubeta)");
    app.add_option("--topic", topic, "the topic (default Form1)");
    app.add_option("--timeout", order.timeoutMs, "milliseconds to wait for each answer")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                int ms = 0;
                const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
                if (ec != std::errc() || end != text.data() + text.size() || ms <= 0)
                    return "needs a positive number of milliseconds, not " + text;
                return {};
            },
            "MS"));
    // The command and its texts are taken as typed, even a text that begins with a dash.
    app.prefix_command();
    AddVersionFlag(app, out, [] { return std::string(kProgram) + " " UBIN_VERSION; });
    if (const auto status = ParseCommandLine(app, args, out, err, kHelp)) return *status;

    const std::vector<std::string> rest = app.remaining();
    if (rest.empty()) return Refuse(err, "no COMMAND given (execute, request or watch)");
    const std::string& command = rest.front();
    if (command.size() > 1 && command[0] == '-') return Refuse(err, "unknown option " + command);
    for (auto it = rest.begin() + 1; it != rest.end(); ++it) order.texts.push_back(QString::fromStdString(*it));
    if (command == "execute") {
        order.command = LinkCommand::Execute;
        if (order.texts.size() != 1) return Refuse(err, "execute takes one TEXT");
    } else if (command == "request" || command == "watch") {
        order.command = command == "request" ? LinkCommand::Request : LinkCommand::Watch;
        if (order.texts.isEmpty()) return Refuse(err, command + " needs at least one ITEM");
    } else {
        return Refuse(err, "unknown command " + command);
    }
    order.service = QString::fromStdString(service);
    order.topic = QString::fromStdString(topic);
    if (order.service.isEmpty() || order.service.contains(QLatin1Char('|')))
        return Refuse(err, "bad service name \"" + service + "\"");
    return order;
}

int RunLinkOrder(const LinkOrder& order, std::ostream& out, std::ostream& err)
{
    LinkClient client;
    if (!client.Connect(order.service, order.topic, order.timeoutMs)) {
        if (client.LastFailure() == LinkClient::Failure::NoServer) {
            Problem(err, QStringLiteral("%1 is not running (no link server answers for the service %1)").arg(order.service));
            return kLinkNoServer;
        }
        Problem(err, QStringLiteral("cannot open the conversation %1|%2: %3")
                         .arg(order.service, order.topic, client.ErrorString()));
        return kLinkFailed;
    }
    switch (order.command) {
    case LinkCommand::Execute: return Execute(client, order, err);
    case LinkCommand::Request: return Request(client, order, out, err);
    case LinkCommand::Watch: return Watch(client, order, out, err);
    }
    return kLinkFailed;
}

QString Escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        default: out += c;
        }
    }
    return out;
}

} // namespace ubin::link
