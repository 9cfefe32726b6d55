#include "base/errors.h"
#include "qt/widgets/colours.h"
#include "qt/widgets/dialogs.h"
#include "qt/widgets/fonts.h"
#include "qt/widgets/search_guard.h"
#include "qt/widgets/twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

namespace ubin::widgets {
namespace {

TEST(Twips, LengthsRoundToNearestWithHalvesToEven)
{
    EXPECT_EQ(TwipsToPixels(1440, 96), 96);
    EXPECT_EQ(TwipsToPixels(1440, 120), 120);
    EXPECT_EQ(TwipsToPixels(-1440, 96), -96);
    // At 144 dots per inch one pixel is 10 twips: 5, 15 and 25 twips are halves.
    EXPECT_EQ(TwipsToPixels(5, 144), 0);
    EXPECT_EQ(TwipsToPixels(15, 144), 2);
    EXPECT_EQ(TwipsToPixels(25, 144), 2);
    EXPECT_EQ(TwipsToPixels(26, 144), 3);
    // No usable resolution: 96 dots per inch.
    EXPECT_EQ(TwipsToPixels(1440, 0), 96);
    EXPECT_EQ(TwipsToPixels(1440, -5), 96);
    EXPECT_EQ(PixelsToTwips(96, 0), 1440);
}

TEST(Twips, PixelsSurviveTheRoundTripAtCommonResolutions)
{
    for (const double dpi : {72.0, 96.0, 120.0, 144.0, 192.0})
        for (int px = -50; px <= 3000; ++px)
            ASSERT_EQ(TwipsToPixels(PixelsToTwips(px, dpi), dpi), px) << "at " << dpi << " dpi";
}

TEST(Twips, RectanglesUseEachAxisOwnResolution)
{
    const Dpi dpi{96, 192};
    EXPECT_EQ(TwipsToPixels(QRect(1440, 1440, 720, 720), dpi), QRect(96, 192, 48, 96));
    EXPECT_EQ(PixelsToTwips(QRect(96, 192, 48, 96), dpi), QRect(1440, 1440, 720, 720));
}

TEST(Twips, PlacesChildrenFromTheirPropertyAndGrowsOnlyWhenAsked)
{
    QWidget form;
    auto* label = new QLabel(QStringLiteral("郵便番号辞書のパス"), &form);
    auto* plain = new QLabel(&form); // no twips property: left alone
    plain->setGeometry(1, 2, 3, 4);
    const QRect designed(240, 3600, 300, 60); // far too small for its caption
    label->setProperty(kTwipsProperty, designed);

    const Dpi dpi = LogicalDpi(&form);
    EXPECT_EQ(PlaceChildrenByTwips(&form), 1);
    EXPECT_EQ(label->geometry(), TwipsToPixels(designed, dpi));
    EXPECT_EQ(plain->geometry(), QRect(1, 2, 3, 4));

    PlaceChildrenByTwips(&form, Fit::GrowToContent);
    const QRect exact = TwipsToPixels(designed, dpi);
    const QRect grown = label->geometry();
    EXPECT_EQ(grown.left(), exact.left());
    EXPECT_GE(grown.width(), label->sizeHint().width());
    EXPECT_GE(grown.height(), label->sizeHint().height());
    EXPECT_LE(std::abs(grown.center().y() - exact.center().y()), 1);
}

TEST(Colours, ValuesHoldRedInTheLowByte)
{
    EXPECT_EQ(ToQColor(0x000000FFu), QColor(255, 0, 0));
    EXPECT_EQ(ToQColor(0x00FF0000u), QColor(0, 0, 255));
    EXPECT_EQ(ToQColor(0x0080FF40u), QColor(0x40, 0xFF, 0x80));
    EXPECT_EQ(ToQColor(0x7F0080FFu), QColor(0xFF, 0x80, 0x00)); // the high byte is not a colour
    EXPECT_EQ(Rgb(192, 192, 192), 0x00C0C0C0u);
    EXPECT_EQ(Rgb(-3, 300, 1), 0x0001FF00u);
    for (const BgrColour v : {0x00000000u, 0x00FFFFFFu, 0x00123456u, 0x00C0C0C0u})
        EXPECT_EQ(ToBgr(ToQColor(v)), v);
}

TEST(Colours, SystemColoursComeFromThePalette)
{
    // A palette where every entry that matters has its own colour.
    QPalette palette;
    int n = 1;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            if (role == QPalette::NoRole) continue;
            palette.setColor(group, static_cast<QPalette::ColorRole>(role), QColor::fromRgb(static_cast<QRgb>(n++ * 0x010203)));
        }
    EXPECT_EQ(ToQColor(0x8000000Fu, palette), palette.color(QPalette::Active, QPalette::Button));
    EXPECT_EQ(ToQColor(0x80000005u, palette), palette.color(QPalette::Active, QPalette::Base));
    EXPECT_EQ(ToQColor(0x80000008u, palette), palette.color(QPalette::Active, QPalette::Text));
    EXPECT_EQ(ToQColor(0x80000011u, palette), palette.color(QPalette::Disabled, QPalette::Text));
    EXPECT_EQ(ToQColor(0x80000018u, palette), palette.color(QPalette::Active, QPalette::ToolTipBase));
    // Numbers the system does not define are black.
    for (const BgrColour v : {0x80000019u, 0x8000001Fu, 0x80000100u, 0xFFFFFFFFu})
        EXPECT_EQ(ToQColor(v, palette), QColor(0, 0, 0)) << std::hex << v;
    for (int i = 0; i <= 24; ++i) EXPECT_TRUE(SystemColourEntry(i).has_value()) << i;
}

// The colour in the middle of the widget's right half, as drawn.
QColor DrawnColour(QWidget* w)
{
    w->resize(120, 30);
    const QImage image = w->grab().toImage();
    return image.pixelColor(image.width() * 3 / 4, image.height() / 2);
}

TEST(Colours, BackColourIsWhatTheWidgetsDraw)
{
    const QColor grey(192, 192, 192);
    QLabel label;
    QLineEdit edit;
    QRadioButton option(QStringLiteral("x"));
    QCheckBox check(QStringLiteral("x"));
    for (QWidget* w : std::initializer_list<QWidget*>{&label, &edit, &option, &check}) {
        SetBackColour(w, Rgb(192, 192, 192));
        EXPECT_EQ(DrawnColour(w), grey) << w->metaObject()->className();
    }
    // A closed list is drawn as a shaded button: near the colour, not equal to it.
    QComboBox combo;
    SetBackColour(&combo, Rgb(0, 0, 255));
    const QColor drawn = DrawnColour(&combo);
    EXPECT_GT(drawn.blue(), 200);
    EXPECT_GT(drawn.blue() - drawn.red(), 80);
    EXPECT_EQ(drawn.red(), drawn.green());
    // A system colour follows the palette of the widget's class.
    QLineEdit window;
    SetBackColour(&window, 0x80000005u);
    EXPECT_EQ(DrawnColour(&window), QApplication::palette(&window).color(QPalette::Base));
}

TEST(Fonts, NamedFamilyWhereInstalledElseTheCjkFont)
{
    if (!QFontDatabase::hasFamily(QString::fromLatin1(kCjkFontFamily)))
        GTEST_SKIP() << kCjkFontFamily << " is not installed";
    EXPECT_EQ(UiFontFamily(QStringLiteral("No Such Family 7f3c")), QString::fromLatin1(kCjkFontFamily));
    EXPECT_EQ(UiFontFamily({}), QString::fromLatin1(kCjkFontFamily));
    for (const QString& family : QFontDatabase::families()) {
        if (family == QString::fromLatin1(kCjkFontFamily)) continue;
        EXPECT_EQ(UiFontFamily(family), family);
        break;
    }
    const QFont font = UiFont(QStringLiteral("No Such Family 7f3c"), 9);
    EXPECT_EQ(font.family(), QString::fromLatin1(kCjkFontFamily));
    EXPECT_EQ(font.pointSizeF(), 9.0);
}

TEST(Dialogs, ClipboardHoldsOnlyThePlainText)
{
    auto* rich = new QMimeData;
    rich->setHtml(QStringLiteral("<b>old</b>"));
    rich->setText(QStringLiteral("old"));
    QGuiApplication::clipboard()->setMimeData(rich);

    SetClipboardText(QStringLiteral("〒730-0014,広島県広島市中区"));
    const QMimeData* now = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(now->text(), QStringLiteral("〒730-0014,広島県広島市中区"));
    EXPECT_FALSE(now->hasHtml());
}

// Answers the next message box with the given button.
void AnswerNextBox(QMessageBox::StandardButton button)
{
    QTimer::singleShot(0, [=] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            if (QAbstractButton* b = box->button(button)) b->click();
    });
}

TEST(Dialogs, QuestionsReportTheChosenButton)
{
    AnswerNextBox(QMessageBox::No);
    EXPECT_FALSE(AskYesNo(nullptr, QStringLiteral("起動しますか")));
    AnswerNextBox(QMessageBox::Yes);
    EXPECT_TRUE(AskYesNo(nullptr, QStringLiteral("起動しますか")));
    AnswerNextBox(QMessageBox::Cancel);
    EXPECT_FALSE(AskOkCancel(nullptr, QStringLiteral("a")));
    AnswerNextBox(QMessageBox::Ok);
    EXPECT_TRUE(AskOkCancel(nullptr, QStringLiteral("b")));
}

TEST(Dialogs, BoxesSpeakJapaneseAndShowWhetherSomethingFailed)
{
    SetProgramTitle(QStringLiteral("郵便番号簿"));
    struct Case {
        MessageKind kind;
        QMessageBox::Icon icon;
    } cases[] = {{MessageKind::Information, QMessageBox::Information},
                 {MessageKind::Warning, QMessageBox::Warning},
                 {MessageKind::Error, QMessageBox::Critical},
                 {MessageKind::Question, QMessageBox::Question}};
    for (const Case& c : cases) {
        const auto box = MakeMessageBox(nullptr, c.kind, QStringLiteral("<b>/tmp/x</b>"), {},
                                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel,
                                        QMessageBox::No);
        EXPECT_EQ(box->icon(), c.icon);
        EXPECT_EQ(box->windowTitle(), QStringLiteral("郵便番号簿")) << "an empty title names the program";
        EXPECT_EQ(box->textFormat(), Qt::PlainText) << "a path is shown as it is";
        EXPECT_EQ(box->button(QMessageBox::Yes)->text(), QStringLiteral("はい(&Y)"));
        EXPECT_EQ(box->button(QMessageBox::No)->text(), QStringLiteral("いいえ(&N)"));
        EXPECT_EQ(box->button(QMessageBox::Ok)->text(), QStringLiteral("OK"));
        EXPECT_EQ(box->button(QMessageBox::Cancel)->text(), QStringLiteral("キャンセル"));
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    }
    EXPECT_EQ(MakeMessageBox(nullptr, MessageKind::Information, {}, QStringLiteral("題"), QMessageBox::Ok,
                             QMessageBox::Ok)->windowTitle(),
              QStringLiteral("題"));
    SetProgramTitle({});
}

} // namespace
} // namespace ubin::widgets

// A failure inside an event of the search reaches the user as a message that names the file
// and the folder; nothing is thrown past the event loop.
TEST(SearchGuard, FailuresOfAnEventBecomeTheMessageTheUserReads)
{
    std::vector<QString> told;
    const auto report = [&](const QString& m) { told.push_back(m); };
    ubin::widgets::RunEvent([] { throw ubin::DirectoryError("/zip/UIND3.IDX: record 9 is cut short by the end of the file"); },
                          u"/zip/", report);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].contains(QStringLiteral("郵便番号辞書のファイルを読めません")));
    EXPECT_TRUE(told[0].contains(QStringLiteral("ファイル: UIND3.IDX")));
    EXPECT_TRUE(told[0].contains(QStringLiteral("/zip/")));
    EXPECT_TRUE(told[0].contains(QStringLiteral("ubin-build")));
    ubin::widgets::RunEvent([] { throw ubin::DirectoryError("/zip/TOSHI2.TDB: file not found"); }, u"/zip/", report);
    EXPECT_TRUE(told[1].contains(QStringLiteral("郵便番号辞書のファイルがありません")));
    ubin::widgets::RunEvent([] { throw std::runtime_error("out of memory"); }, u"", report);
    EXPECT_TRUE(told[2].contains(QStringLiteral("out of memory")));
    ubin::widgets::RunEvent([] {}, u"", report);
    EXPECT_EQ(told.size(), 3u);
}
