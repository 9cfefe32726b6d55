#pragma once
// Tenzora's one window: the clip choices and the directory folder of ubscon.def. The settings
// are read when the window is loaded and written back, always, when it is closed.
#include "settings/places.h"
#include "settings/settings.h"

#include <QWidget>

#include <array>
#include <filesystem>
#include <functional>
#include <memory>

class QCheckBox;
class QCloseEvent;

namespace Ui {
class TenzoraForm;
}

namespace ubin {

// Tenzora's places in the running program: the environment, the executable's folder and the
// current working folder.
PlaceContext TenzoraPlaces();

class TenzoraWindow : public QWidget {
    Q_OBJECT

public:
    // Shows a message to the user; the default is an information box with an OK button.
    using MessageFunction = std::function<void(QWidget* parent, const QString& text)>;

    static constexpr int kCheckCount = 7; // ClipFlags 0-6

    explicit TenzoraWindow(PlaceContext places, QWidget* parent = nullptr);
    ~TenzoraWindow() override;

    void setMessageFunction(MessageFunction show) { message_ = std::move(show); }

    // Reads the settings from the Windows folder, else the current folder, and fills the
    // controls. When neither place can be read, tells the user which places were tried and
    // returns false; the window must then not be shown.
    bool load();

    // Reads the controls back and writes the settings: to the Windows folder when they came
    // from there, then to the current folder. A write that fails is reported, naming the file,
    // and nothing after it is written; returns false then. Closing the window calls it once.
    bool save();

    bool foundInWindowsFolder() const { return foundInWindowsFolder_; }
    bool saveFailed() const { return saveFailed_; }
    const EditorSettings& settings() const { return settings_; }
    const PlaceContext& places() const { return places_; }

    // The caption of the window and of its message boxes.
    static QString title();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showMessage(const QString& text);

    std::unique_ptr<Ui::TenzoraForm> ui_;
    std::array<QCheckBox*, kCheckCount> checks_{};
    PlaceContext places_;
    EditorSettings settings_;
    MessageFunction message_;
    bool loaded_ = false;
    bool foundInWindowsFolder_ = false;
    bool closed_ = false;
    bool saveFailed_ = false;
};

} // namespace ubin
