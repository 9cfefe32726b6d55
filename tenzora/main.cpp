// Tenzora, the settings editor: edits the clip choices and the directory folder of ubscon.def.
#include "tenzora/tenzora_window.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tenzora"));

    ubin::TenzoraWindow window(ubin::TenzoraPlaces());
    if (!window.load()) return 1;
    window.show();
    const int status = app.exec();
    return window.saveFailed() ? 1 : status;
}
