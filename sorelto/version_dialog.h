#pragma once
// The control's version dialog Ver: a picture, "Marubeta Control", "Ver.2.0", a notice line, the
// edition of the directory's data (LabelEdition) and the OK button CmdOK. OK and closing the
// window both hide it.
#include "directory/edition.h"

#include <QDialog>
#include <memory>

namespace Ui {
class VersionDialog;
}

namespace ubin::control {

class VersionDialog : public QDialog {
    Q_OBJECT

public:
    explicit VersionDialog(const DirectoryEdition& edition = {}, QWidget* parent = nullptr);
    ~VersionDialog() override;

private:
    std::unique_ptr<Ui::VersionDialog> ui_;
};

// The dialog's picture: a postal mark drawn at the given size in pixels.
QPixmap PostalMarkPicture(int size);

// Creates the dialog, shows it modally until it is hidden, then releases it, so that each call
// starts afresh.
void ShowVersionDialog(QWidget* parent, const DirectoryEdition& edition);

} // namespace ubin::control
