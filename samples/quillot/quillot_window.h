#pragma once
// Quillot's window frmUbinTest: a postal code typed into Text1 is looked up by the embedded
// UbinBangou control, and the six result properties are copied into Label1 to Label6.
#include "qt/component/host.h"
#include "qt/component/saved_form.h"

#include <QWidget>

#include <filesystem>
#include <memory>

namespace Ui {
class QuillotWindow;
}

namespace ubin::quillot {

// The saved form that holds UbinBangou1's properties and extent, kept beside the program.
inline constexpr char kFormFileName[] = "quillot.form";
inline constexpr char kControlName[] = "UbinBangou1";

class QuillotWindow : public QWidget {
    Q_OBJECT

public:
    explicit QuillotWindow(QWidget* parent = nullptr);
    ~QuillotWindow() override;

    // Creates UbinBangou1 through the class registry from its saved properties, places it
    // and connects ClickDisp. The error of the creation, when it fails.
    component::Status LoadControl(const std::filesystem::path& registryPath, const component::SavedForm& form);

    // Label1 := Ubin1 ... Label6 := Ubin6.
    void RefreshResultLabels();
    // Ubin_get_ocx with the text of Text1, then RefreshResultLabels.
    void LookUpTypedCode();

    component::HostedControl* control() const { return control_.get(); }

signals:
    // A member call into the control failed; nothing handles it here, the program ends.
    void controlFailed(const QString& message);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The result of a member call, or an empty text after reporting its error.
    QString GetText(std::int32_t member);
    void Fail(const component::Status& status);

    std::unique_ptr<Ui::QuillotWindow> ui_;
    component::ControlLoader* loader_ = nullptr;
    std::unique_ptr<component::ControlLoader> ownLoader_;
    std::unique_ptr<component::HostedControl> control_;
};

// Where the program finds its saved form: beside the executable, else in the installation's
// data folder <prefix>/share/marubeta/.
std::filesystem::path FindFormFile(const std::filesystem::path& executableFolder);

// The control library a user registers with ubin-regsvr: the installed one
// (<prefix>/lib/marubeta/, beside <prefix>/bin), else the one of the build tree, where that exists.
std::filesystem::path ControlLibraryPath(const std::filesystem::path& executableFolder);

// The messages of Quillot's failures, in Japanese, saying what to do: the control cannot be
// created (not registered: how to register it with ubin-regsvr; other reasons: the detail),
// and a member call that failed.
QString CreationFailedMessage(const component::Status& status, const std::filesystem::path& registryPath,
                              const std::filesystem::path& libraryPath);
QString CallFailedMessage(const QString& detail);

} // namespace ubin::quillot
