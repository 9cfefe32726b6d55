#pragma once
// The search window 郵便番号簿: its start-up from the settings and the directory, the events of
// its elements, the clip items dialog, and its shut-down.
#include "base/errors.h"
#include "directory/directory.h"
#include "marubeta/clip_items_dialog.h"
#include "qt/widgets/qt_face.h"
#include "qt/link/link_server.h"
#include "search/live.h"
#include "form/search.h"
#include "settings/places.h"
#include "settings/settings.h"

#include <QMainWindow>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace Ui {
class MarubetaWindow;
}

namespace ubin {

// Start-up could not find a readable settings file in any of its places.
class SettingsNotFound : public std::runtime_error {
public:
    SettingsNotFound(std::vector<std::filesystem::path> places, std::vector<std::string> tried,
                     std::filesystem::path userFolder)
        : std::runtime_error("no readable ubscon.def"), places(std::move(places)), tried(std::move(tried)),
          userFolder(std::move(userFolder)) {}
    std::vector<std::filesystem::path> places; // in the order they were looked at
    std::vector<std::string> tried;            // for each place, the reader's "<path>: <reason>"
    std::filesystem::path userFolder;          // where the window writes its settings
};

// Start-up could not open or read the directory the settings name.
class DirectoryStartUpError : public DirectoryError {
public:
    DirectoryStartUpError(const std::string& what, std::u16string dataFolder)
        : DirectoryError(what), dataFolder(std::move(dataFolder)) {}
    std::u16string dataFolder;
};

// The two lines of the settings-not-found message box.
QString SettingsNotFoundMessage();
// The whole message: the two lines, each place looked in with what was wrong there, and how to
// make a settings file.
QString SettingsNotFoundMessage(const SettingsNotFound& e);
// The message for a directory file that is missing or cannot be read: which file, the folder
// the settings name (DataFolder), the reader's detail, and what to do.
// The message when the settings cannot be written at the end: the file, the detail, what to do.
QString SettingsSaveFailedMessage(const std::filesystem::path& file, const std::string& detail);

class MarubetaWindow : public QMainWindow {
    Q_OBJECT

public:
    // Runs the start-up: settings (SettingsNotFound when none can be read), the directory
    // (DirectoryError naming a missing or damaged file), the saved window position, mode 1
    // and an empty search.
    explicit MarubetaWindow(const PlaceContext& places, QWidget* parent = nullptr);
    ~MarubetaWindow() override;

    Search& search() { return *search_; }
    widgets::QtSearchFace& face() { return *face_; }
    Settings& settings() { return settings_; }
    DirectoryState& directory() { return directory_; }
    const std::filesystem::path& settingsPath() const { return savePath_; }
    ClipItemsDialog* clipDialog() const { return clipDialog_; }

    // menuClip: opens the clip items dialog, or brings the open one to the front.
    void ShowClipDialog();
    // menuVersion: the version box VersionBox, modal until OK: the program's version and the
    // edition of the directory's data (VersionText).
    void ShowVersionBox();
    // "郵便番号簿 Ver.2.0" and, on a second line, the data's edition ("データ版 2026-11", or
    // "データ版 不明" for a directory built before editions were recorded).
    QString VersionText() const;
    // Closes every file, writes the settings, and ends the program (the signal shutDown).
    void ShutDownProgram();
    // The same when the system ends the program (SIGTERM, SIGINT, SIGHUP): nobody is there to
    // close a box, so a settings file that cannot be written is told on standard error only,
    // and the program ends at once.
    void ShutDownOnSignal();
    bool isShutDown() const { return shutDown_; }

    // The last step of start-up: the window becomes the source of the link service `service`
    // (topic "Form1"). False, with the reason, when the name is already served: the window
    // then runs without the link service.
    bool StartLinkSource(const QString& service, QString* reason = nullptr);
    link::LinkServer* linkServer() const { return link_.get(); }

    // Stores the window's position, in twips, for the settings file.
    void CaptureWindowPosition();

    // Shows a directory or settings error; a warning box unless replaced (tests).
    std::function<void(const QString&)> reportError;
    // Shows an error met while serving the link: a box that does not block (see
    // StartLinkSource) unless replaced (tests).
    std::function<void(const QString&)> reportLinkError;

    // After every shown result (postal entry or city line), as the control does: the copy of the
    // result text when 自動クリップ is on.
    void AfterDisplay();
    // A postal result was shown: remembered so that a change of 都道府県付加 can reach it.
    void PostalResultShown(const ResultRecord& record);

signals:
    // The program should end now: nothing else is to run.
    void shutDownRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void LoadSettings(const PlaceContext& places);
    void ConnectEvents();
    void ApplyFont();
    // The current text of a label or text box of the window, for the link; none for any
    // other name.
    std::optional<QString> ItemText(const QString& item) const;
    // Runs an event handler; a directory read that fails is reported and the window stays usable.
    void Guard(const std::function<void()>& handler);
    // Between two lookups: when ubin-build has replaced the directory folder, the new build is
    // opened and the window reads it from now on (a build that cannot be opened yet, in the
    // middle of its swap, is tried again at the next lookup).
    void TakeUpNewBuild();
    // 都道府県付加 was switched in the clip dialog: the postal result on display gets or loses
    // the prefecture in front of its city name and reading, so the next copy carries the choice.
    void ApplyPrefectureChoice();

    std::unique_ptr<Ui::MarubetaWindow> ui_;
    Settings settings_;
    std::filesystem::path savePath_;
    DirectoryState directory_;
    std::unique_ptr<Lookup> lookup_;
    FolderWatch watch_; // a folder replaced by ubin-build while the window runs
    std::unique_ptr<widgets::QtSearchFace> face_;
    std::unique_ptr<Search> search_;
    QPointer<ClipItemsDialog> clipDialog_;
    std::unique_ptr<link::LinkServer> link_;
    bool shutDown_ = false;
    void ShutDown(bool withBoxes);

    // The postal result last shown, while its city name and reading are on display.
    struct ShownPostal {
        int prefecture = 0; // 1 to 47; 0 when the city was not found (no prefecture to add)
        bool prefixed = false;
        std::u16string cityName, kana;
    };
    std::optional<ShownPostal> shownPostal_;
};

} // namespace ubin
