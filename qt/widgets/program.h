#pragma once
// What every program of the suite does before and around its windows: the command line
// (--help, --version, its own options; unknown options refused), the check for a display, and
// the names and icon the desktop shows.
#include "directory/edition.h"

#include <QCommandLineParser>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <optional>

namespace ubin::widgets {

struct ProgramInfo {
    // The executable's name; also the window class the desktop matches launchers by, and the
    // name of the suite's icon in the icon theme.
    QString name;
    // The program's title, shown on message boxes that name none ("郵便番号簿").
    QString title;
    // One sentence for --help.
    QString description;
};

// The suite's version, as --version prints it.
QString SuiteVersion();

// The edition line of the version dialogs: "データ版 2026-11", "データ版 2026-11（推定）" when
// ubin-build took it from its input files' dates, "データ版 不明" for a directory built before
// editions were recorded.
QString DataEditionText(const DirectoryEdition& edition);

// The suite's icon (the postal mark), from the program's own resources.
QIcon SuiteIcon();

// The command line of a program. Parse() runs before any window exists, so it works without a
// display. Besides the program's own options it accepts the toolkit's (-platform, -style,
// -display ...), which the application object takes out of the arguments.
class CommandLine {
public:
    explicit CommandLine(ProgramInfo info);

    // The program's own options, before Parse().
    void AddOption(const QCommandLineOption& option) { parser_.addOption(option); }
    void AddPositional(const QString& name, const QString& description, const QString& syntax = {})
    {
        parser_.addPositionalArgument(name, description, syntax);
    }
    // When not allowed (the default), any positional argument is refused like an unknown option.
    void AllowPositionals(bool allow) { positionalsAllowed_ = allow; }

    struct Outcome {
        std::optional<int> exitStatus; // set when the program should end now
        QString out;                   // for standard output: the help or the version
        QString err;                   // for standard error: one line saying what is wrong
    };
    // --help and --version: their text for standard output, status 0. An unknown option, a
    // missing value or an argument the program takes none of: one line, status 2. Otherwise
    // no status: the program goes on and reads its options from parser().
    Outcome Parse(const QStringList& arguments);

    // Parse(), printing what it says; the status to end with, if the program should end.
    std::optional<int> ParseAndPrint(const QStringList& arguments);

    const QCommandLineParser& parser() const { return parser_; }
    QString HelpText() const;

private:
    ProgramInfo info_;
    QCommandLineParser parser_;
    bool positionalsAllowed_ = false;
};

// The arguments as the program got them (argv decoded from the locale's encoding).
QStringList Arguments(int argc, char** argv);

// Whether a window can be shown: a display is named (DISPLAY, WAYLAND_DISPLAY) or the toolkit
// is told which platform to draw on (QT_QPA_PLATFORM).
bool HasDisplay();

// The line every window program prints without a display; the status to end with (1).
int ReportNoDisplay(const QString& name);

// Run once the application object exists: the window class and desktop file name, the title of
// untitled message boxes, and the suite's icon on every window of the program.
void SetUpApplication(const ProgramInfo& info);

} // namespace ubin::widgets
