#include "sorelto/version_dialog.h"

#include "qt/widgets/fonts.h"
#include "qt/widgets/program.h"
#include "qt/widgets/twips.h"
#include "ui_version_dialog.h"

#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace ubin::control {

namespace {

// The dialog's client area in twips.
const QSize kClientTwips(3765, 2430);

} // namespace

QPixmap PostalMarkPicture(int size)
{
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    // A red disc with the white postal mark: two bars and a stem.
    const qreal s = size;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xD0, 0x20, 0x20));
    p.drawEllipse(QRectF(0.5, 0.5, s - 1, s - 1));
    p.setBrush(Qt::white);
    const qreal bar = s * 0.10;
    p.drawRect(QRectF(s * 0.24, s * 0.24, s * 0.52, bar));
    p.drawRect(QRectF(s * 0.24, s * 0.42, s * 0.52, bar));
    p.drawRect(QRectF(s * 0.45, s * 0.42, bar, s * 0.36));
    return picture;
}

VersionDialog::VersionDialog(const DirectoryEdition& edition, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::VersionDialog>())
{
    ui_->setupUi(this);
    ui_->LabelEdition->setText(widgets::DataEditionText(edition));
    setFont(widgets::UiFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    widgets::PlaceChildrenByTwips(this);
    widgets::SetFixedSizeInTwips(this, kClientTwips);
    ui_->Image1->setPixmap(PostalMarkPicture(ui_->Image1->width()));
    ui_->CmdOK->setDefault(true);
    connect(ui_->CmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

VersionDialog::~VersionDialog() = default;

void ShowVersionDialog(QWidget* parent, const DirectoryEdition& edition)
{
    // The dialog is a window of its own; the control's face only centres it.
    VersionDialog dialog(edition, parent ? parent->window() : nullptr);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.exec();
}

} // namespace ubin::control
