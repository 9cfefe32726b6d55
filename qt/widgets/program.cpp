#include "qt/widgets/program.h"

#include "qt/widgets/dialogs.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

// The icon lives in this library's resources; a static library needs them named once.
static void InitSuiteResources() { Q_INIT_RESOURCE(suite_icons); }

namespace ubin::widgets {

namespace {

// The toolkit's own options, taken by the application object: accepted, not listed.
const char* const kToolkitValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                            "qwindowgeometry", "qwindowicon", "qwindowtitle", "style",
                                            "stylesheet", "display", "geometry", "name", "title",
                                            "session", "qmljsdebugger"};
const char* const kToolkitFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

void Print(std::FILE* to, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), to);
    std::fflush(to);
}

} // namespace

QString SuiteVersion() { return QStringLiteral(UBIN_VERSION); }

QString DataEditionText(const DirectoryEdition& edition)
{
    if (!edition.month) return QStringLiteral("データ版 不明");
    return QStringLiteral("データ版 ") + QString::fromStdString(FormatYearMonth(*edition.month))
           + (edition.guessed ? QStringLiteral("（推定）") : QString());
}

QIcon SuiteIcon()
{
    InitSuiteResources();
    return QIcon(QStringLiteral(":/ubin/icons/marubeta.svg"));
}

CommandLine::CommandLine(ProgramInfo info) : info_(std::move(info))
{
    parser_.setApplicationDescription(info_.description);
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser_.addHelpOption();
    parser_.addVersionOption();
    for (const char* name : kToolkitValueOptions) {
        QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser_.addOption(o);
    }
    for (const char* name : kToolkitFlagOptions) {
        QCommandLineOption o(QString::fromLatin1(name));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser_.addOption(o);
    }
}

QString CommandLine::HelpText() const
{
    // The parser names the program by the path it was started with (or a placeholder before
    // the application object exists): the usage line names it as the user types it.
    QString text = parser_.helpText();
    const QString usage = QStringLiteral("Usage: ");
    const qsizetype end = text.indexOf(QStringLiteral(" [options]"));
    if (text.startsWith(usage) && end > usage.size()) text.replace(usage.size(), end - usage.size(), info_.name);
    return text;
}

CommandLine::Outcome CommandLine::Parse(const QStringList& arguments)
{
    Outcome r;
    const QString hint = QStringLiteral(" (%1 --help lists the options)\n").arg(info_.name);
    if (!parser_.parse(arguments)) {
        r.err = info_.name + QStringLiteral(": ") + parser_.errorText() + hint;
        r.exitStatus = 2;
        return r;
    }
    if (parser_.isSet(QStringLiteral("help")) || parser_.isSet(QStringLiteral("help-all"))) {
        r.out = HelpText();
        r.exitStatus = 0;
    } else if (parser_.isSet(QStringLiteral("version"))) {
        r.out = info_.name + QLatin1Char(' ') + SuiteVersion() + QLatin1Char('\n');
        r.exitStatus = 0;
    } else if (!positionalsAllowed_ && !parser_.positionalArguments().isEmpty()) {
        r.err = info_.name + QStringLiteral(": unexpected argument '%1'").arg(parser_.positionalArguments().first())
                + hint;
        r.exitStatus = 2;
    }
    return r;
}

std::optional<int> CommandLine::ParseAndPrint(const QStringList& arguments)
{
    const Outcome r = Parse(arguments);
    if (!r.out.isEmpty()) Print(stdout, r.out);
    if (!r.err.isEmpty()) Print(stderr, r.err);
    return r.exitStatus;
}

QStringList Arguments(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    return args;
}

bool HasDisplay()
{
    const auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

int ReportNoDisplay(const QString& name)
{
    Print(stderr, QStringLiteral("%1: no display (DISPLAY is not set); run it on a desktop, or under a virtual "
                                 "one: xvfb-run -a %1\n")
                      .arg(name));
    return 1;
}

void SetUpApplication(const ProgramInfo& info)
{
    // The application's name is the window class (WM_CLASS) that launchers name in
    // StartupWMClass; the desktop file name does the same on Wayland.
    QCoreApplication::setApplicationName(info.name);
    QGuiApplication::setDesktopFileName(info.name);
    SetProgramTitle(info.title);
    QApplication::setWindowIcon(SuiteIcon());
}

} // namespace ubin::widgets
