#pragma once
// クリップ定義: the check boxes of the clip flags 0-6. It reads the flags when it opens and
// writes them back when the user closes it; flags 7 and 8 are never touched.
#include "settings/settings.h"

#include <QDialog>
#include <memory>

namespace Ui {
class ClipItemsDialog;
}

namespace ubin {

inline constexpr int kClipDialogFlags = 7;

class ClipItemsDialog : public QDialog {
    Q_OBJECT

public:
    ClipItemsDialog(ClipFlags& flags, QWidget* parent = nullptr);
    ~ClipItemsDialog() override;

    bool IsBoxChecked(int i) const;
    void SetBoxChecked(int i, bool checked);

    // Closing the dialog (its close command, or Escape) stores the boxes in the flags.
    void done(int result) override;

private:
    std::unique_ptr<Ui::ClipItemsDialog> ui_;
    ClipFlags& flags_;
};

} // namespace ubin
