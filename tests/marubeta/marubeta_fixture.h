#pragma once
// A search window on the sample directory, with its settings in temporary folders standing for
// the Windows folder, the current folder and the installation folder.
#include "base/cp932.h"
#include "marubeta/marubeta_window.h"
#include "settings/settings.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QTest>
#include <memory>

namespace ubin::test {

struct MarubetaFixture {
    TempDir folders;
    PlaceContext places;
    std::unique_ptr<MarubetaWindow> window;
    std::vector<QString> errors;
    int beeps = 0;

    // The settings file goes into the current folder; the window writes its own to "win".
    explicit MarubetaFixture(const std::string& flags = "0,1,1,1,0,0,0,7,8", const std::string& position = "1200,900",
                             const std::string& dataFolder = UBIN_SAMPLE_DIR)
    {
        places = PlaceContext{folders / "win", folders / "cur", folders / "share"};
        std::filesystem::create_directories(places.currentFolder);
        WriteBytes(places.currentFolder / "ubscon.def",
                   "\"r1\",\"r2\",\"" + dataFolder + "\",0," + position + "," + flags + ",\"END\"\r\n");
    }

    MarubetaWindow& Open()
    {
        window = std::make_unique<MarubetaWindow>(places);
        window->reportError = [this](const QString& m) { errors.push_back(m); };
        window->face().beepHook = [this] { ++beeps; };
        window->show();
        window->activateWindow();
        QApplication::processEvents();
        return *window;
    }

    template <class W>
    W* Find(const char* name) const
    {
        return window->findChild<W*>(QString::fromLatin1(name));
    }

    QString Text(const char* element) const { return QString::fromStdU16String(window->face().Text(element)); }

    void TypeAndEnter(const QString& text)
    {
        auto* box = Find<QWidget>("ITUbin");
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
    }
};

} // namespace ubin::test
