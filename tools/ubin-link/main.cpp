// ubin-link: talks to a running Marubeta (or any link service) from the command line.
//
//   ubin-link [--service NAME] [--topic TOPIC] [--timeout MS] execute TEXT
//   ubin-link [...] request ITEM...     one line NAME<TAB>text per item
//   ubin-link [...] watch ITEM...       hot links: the current texts, then each change
//
// Exit status: 0 done, 1 refused or failed (unknown item, refused command or topic, link
// lost), 2 no server answers, 64 bad usage.
#include "platform/link/link_client.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitNoServer = 2;
constexpr int kExitUsage = 64;

const char kUsage[] =
    "usage: ubin-link [--service NAME] [--topic TOPIC] [--timeout MS] COMMAND ...\n"
    "  execute TEXT     send TEXT as an execute command; fails when the server refuses it\n"
    "  request ITEM...  print NAME<TAB>text for each item\n"
    "  watch ITEM...    hot links on the items: print NAME<TAB>text now and on every change,\n"
    "                   until interrupted\n"
    "  --help, --version  this text, the version\n"
    "The service defaults to Marubeta and the topic to Form1. In printed texts a backslash,\n"
    "tab, line feed and carriage return are written \\\\, \\t, \\n and \\r.\n"
    "Exit status: 0 done, 1 refused or failed, 2 no server answers, 64 bad usage.\n";

void PrintErr(const QString& message)
{
    const QByteArray bytes = (QStringLiteral("ubin-link: ") + message + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
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

void PrintItem(const QString& item, const QString& text)
{
    const QByteArray bytes = (item + QLatin1Char('\t') + Escaped(text) + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

int Usage(const QString& problem)
{
    if (!problem.isEmpty()) PrintErr(problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// The exit status for a client whose last call failed.
int FailureStatus(const ubin::link::LinkClient& client)
{
    return client.LastFailure() == ubin::link::LinkClient::Failure::NoServer ? kExitNoServer : kExitFailed;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();

    QString service = QStringLiteral("Marubeta");
    QString topic = QStringLiteral("Form1");
    int timeoutMs = ubin::link::LinkClient::kDefaultTimeoutMs;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        QString option = args.takeFirst();
        if (option == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == QLatin1String("--version")) {
            std::fputs("ubin-link " UBIN_VERSION "\n", stdout);
            return 0;
        }
        QString value;
        if (const qsizetype eq = option.indexOf(QLatin1Char('=')); eq > 0) {
            value = option.mid(eq + 1);
            option.truncate(eq);
        } else if (!args.isEmpty()) {
            value = args.takeFirst();
        } else {
            return Usage(QStringLiteral("%1 needs a value").arg(option));
        }
        if (option == QLatin1String("--service")) {
            service = value;
        } else if (option == QLatin1String("--topic")) {
            topic = value;
        } else if (option == QLatin1String("--timeout")) {
            bool ok = false;
            timeoutMs = value.toInt(&ok);
            if (!ok || timeoutMs <= 0) return Usage(QStringLiteral("--timeout needs a positive number of milliseconds"));
        } else {
            return Usage(QStringLiteral("unknown option %1").arg(option));
        }
    }
    if (args.isEmpty()) return Usage({});
    const QString command = args.takeFirst();
    if (command == QLatin1String("execute")) {
        if (args.size() != 1) return Usage(QStringLiteral("execute takes one TEXT"));
    } else if (command == QLatin1String("request") || command == QLatin1String("watch")) {
        if (args.isEmpty()) return Usage(QStringLiteral("%1 needs at least one ITEM").arg(command));
    } else {
        return Usage(QStringLiteral("unknown command %1").arg(command));
    }
    if (service.isEmpty() || service.contains(QLatin1Char('|'))) return Usage(QStringLiteral("bad service name"));

    ubin::link::LinkClient client;
    if (!client.Connect(service, topic, timeoutMs)) {
        if (client.LastFailure() == ubin::link::LinkClient::Failure::NoServer)
            PrintErr(QStringLiteral("%1 is not running (no link server answers for the service %1)").arg(service));
        else
            PrintErr(QStringLiteral("cannot open the conversation %1|%2: %3").arg(service, topic, client.ErrorString()));
        return FailureStatus(client);
    }

    if (command == QLatin1String("execute")) {
        const auto flag = client.Execute(args.first(), timeoutMs);
        if (!flag) {
            PrintErr(QStringLiteral("the command was not answered: %1").arg(client.ErrorString()));
            return kExitFailed;
        }
        if (*flag != 0) {
            PrintErr(QStringLiteral("%1 refused the command (acceptance flag %2)").arg(service).arg(*flag));
            return kExitFailed;
        }
        client.Disconnect();
        return 0;
    }

    if (command == QLatin1String("request")) {
        int status = 0;
        for (const QString& item : args) {
            const auto text = client.Request(item, timeoutMs);
            if (!text) {
                PrintErr(QStringLiteral("%1: %2").arg(item, client.ErrorString()));
                if (!client.IsConnected()) return kExitFailed;
                status = kExitFailed;
                continue;
            }
            PrintItem(item, *text);
        }
        client.Disconnect();
        return status;
    }

    // watch
    QObject::connect(&client, &ubin::link::LinkClient::ItemData, &PrintItem);
    QObject::connect(&client, &ubin::link::LinkClient::Disconnected, &app, [&client] {
        PrintErr(QStringLiteral("the link was lost: %1").arg(client.ErrorString()));
        QCoreApplication::exit(kExitFailed);
    });
    for (const QString& item : args) {
        QString current;
        if (!client.Advise(item, ubin::link::LinkMode::Hot, &current, timeoutMs)) {
            PrintErr(QStringLiteral("%1: %2").arg(item, client.ErrorString()));
            return kExitFailed;
        }
        PrintItem(item, current);
    }
    return app.exec();
}
