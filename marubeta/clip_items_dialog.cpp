#include "marubeta/clip_items_dialog.h"

#include "qt/widgets/fonts.h"
#include "qt/widgets/twips.h"
#include "ui_clip_items_dialog.h"

#include <QCheckBox>

namespace ubin {

namespace {

QCheckBox* Box(QWidget* dialog, int i) { return dialog->findChild<QCheckBox*>(QStringLiteral("Check1_%1").arg(i)); }

} // namespace

ClipItemsDialog::ClipItemsDialog(ClipFlags& flags, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ClipItemsDialog>()), flags_(flags)
{
    ui_->setupUi(this);
    setFont(widgets::UiFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    widgets::PlaceChildrenByTwips(this, widgets::Fit::GrowToContent);
    widgets::SetFixedSizeInTwips(this, QSize(2900, 3500));
    // A flag is shown checked only when it holds exactly 1.
    for (int i = 0; i < kClipDialogFlags; ++i) Box(this, i)->setChecked(IsOn(flags_, i));
}

ClipItemsDialog::~ClipItemsDialog() = default;

bool ClipItemsDialog::IsBoxChecked(int i) const { return Box(const_cast<ClipItemsDialog*>(this), i)->isChecked(); }

void ClipItemsDialog::SetBoxChecked(int i, bool checked) { Box(this, i)->setChecked(checked); }

void ClipItemsDialog::done(int result)
{
    for (int i = 0; i < kClipDialogFlags; ++i) flags_[static_cast<std::size_t>(i)] = IsBoxChecked(i) ? 1 : 0;
    QDialog::done(result);
}

} // namespace ubin
