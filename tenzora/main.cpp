// Tenzora, the settings editor: edits the clip choices and the directory folder of ubscon.def.
// It needs a display; without one it says how to get one.
#include "tenzora/tenzora_window.h"

#include "qt/widgets/program.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    const ubin::widgets::ProgramInfo program{
        QStringLiteral("tenzora"), ubin::TenzoraWindow::title(),
        QStringLiteral("郵便番号検索定義: edits the directory folder and the clip items of ubscon.def, read from "
                       "$XDG_CONFIG_HOME/marubeta/ (~/.config/marubeta/) or the current folder, and written back "
                       "when the window is closed.")};
    ubin::widgets::CommandLine commandLine(program);
    if (const auto status = commandLine.ParseAndPrint(ubin::widgets::Arguments(argc, argv))) return *status;
    if (!ubin::widgets::HasDisplay()) return ubin::widgets::ReportNoDisplay(program.name);

    QApplication app(argc, argv);
    ubin::widgets::SetUpApplication(program);

    ubin::TenzoraWindow window(ubin::TenzoraPlaces());
    if (!window.load()) return 1;
    window.show();
    const int status = app.exec();
    return window.saveFailed() ? 1 : status;
}
