// Piroshen: the sample client of Marubeta's link service. Without a display it says how to get one.
//
//   piroshen [--marubeta PATH]
//
// Marubeta's program file is the `marubeta` beside Piroshen's own executable (both are installed
// into the same bin folder); --marubeta names another one, as when running from the build tree.
#include "samples/piroshen/piroshen_window.h"

#include "qt/widgets/program.h"

#include <QApplication>

int main(int argc, char** argv)
{
    const ubin::widgets::ProgramInfo program{
        QStringLiteral("piroshen"), ubin::piroshen::PiroshenWindow::kTitle,
        QStringLiteral("郵便番号検索 DDE　サンプル: a sample program that looks postal codes up through a running "
                       "marubeta (starting it when asked) and shows the result it links to.")};
    ubin::widgets::CommandLine commandLine(program);
    const QCommandLineOption marubetaOption(QStringLiteral("marubeta"),
                                            QStringLiteral("Marubeta's program file (default: the marubeta beside "
                                                           "piroshen)."),
                                            QStringLiteral("PATH"));
    commandLine.AddOption(marubetaOption);
    if (const auto status = commandLine.ParseAndPrint(ubin::widgets::Arguments(argc, argv))) return *status;
    if (!ubin::widgets::HasDisplay()) return ubin::widgets::ReportNoDisplay(program.name);

    QApplication app(argc, argv);
    ubin::widgets::SetUpApplication(program);

    ubin::piroshen::PiroshenSetup setup;
    setup.marubetaProgram = commandLine.parser().isSet(marubetaOption)
                                ? commandLine.parser().value(marubetaOption)
                                : ubin::piroshen::MarubetaBeside(QCoreApplication::applicationDirPath());

    ubin::piroshen::PiroshenWindow window(setup);
    window.Start();
    window.show();
    return app.exec(); // closing the window ends the program; nothing else is done at close
}
