#pragma once
// The control's version dialog Ver: a picture, "Marubeta Control", "Ver.2.0", a notice line and
// the OK button CmdOK. OK and closing the window both hide it.
#include <QDialog>
#include <memory>

namespace Ui {
class VersionDialog;
}

namespace ubin::control {

class VersionDialog : public QDialog {
    Q_OBJECT

public:
    explicit VersionDialog(QWidget* parent = nullptr);
    ~VersionDialog() override;

private:
    std::unique_ptr<Ui::VersionDialog> ui_;
};

// The dialog's picture: a postal mark drawn at the given size in pixels.
QPixmap PostalMarkPicture(int size);

// Creates the dialog, shows it modally until it is hidden, then releases it, so that each call
// starts afresh.
void ShowVersionDialog(QWidget* parent);

} // namespace ubin::control
