// Screenshots of every window of the suite and of every message box it shows, drawn by a real X
// server (xvfb-run) with the project's CJK font, saved as build artifacts for people to look at
// (build/artifacts/*.png). Each one is also checked: every element lies inside its window and
// every fixed caption fits its element; the icon renders; the window class is the program's.
#include "marubeta/marubeta_window.h"
#include "qt/widgets/search_guard.h"
#include "qt/widgets/dialogs.h"
#include "qt/widgets/program.h"
#include "samples/piroshen/piroshen_window.h"
#include "samples/quillot/quillot_window.h"
#include "tenzora/tenzora_window.h"
#include "tests/sorelto/sorelto_fixture.h"
#include "tests/marubeta/marubeta_fixture.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace ubin::test {
namespace {

std::string Utf8(const QString& s) { return s.toStdString(); }

const widgets::ProgramInfo kMarubeta{QStringLiteral("marubeta"), QStringLiteral("郵便番号簿"), QString()};

QString ArtifactPath(const char* name)
{
    QDir().mkpath(QStringLiteral(UBIN_ARTIFACT_DIR));
    return QStringLiteral(UBIN_ARTIFACT_DIR "/%1.png").arg(QString::fromLatin1(name));
}

// The room a caption needs in its element: the ink of its glyphs (a full-width bracket's blank
// half may run over), plus the indicator of an option button or a check box and the margins of
// a button.
QSize CaptionNeeds(QWidget* w, const QString& caption)
{
    const QFontMetrics fm(w->font());
    int width = 0;
    for (const QString& line : caption.split(QLatin1Char('\n')))
        width = std::max(width, fm.tightBoundingRect(line).right() + 1);
    const int ink = fm.tightBoundingRect(caption).height();
    QStyle* style = w->style();
    if (qobject_cast<QRadioButton*>(w))
        width += style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w)
                 + style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
    else if (qobject_cast<QCheckBox*>(w))
        width += style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w)
                 + style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
    else if (qobject_cast<QPushButton*>(w))
        width += 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
    return {width, ink};
}

// Every element inside its parent, and every caption that is part of the design (not a result
// the logic writes) within its element.
void ExpectNothingClipped(QWidget* window)
{
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->isWindow()) continue;
        const QWidget* parent = w->parentWidget();
        EXPECT_TRUE(parent->rect().contains(w->geometry()))
            << Utf8(w->objectName()) << " lies outside " << Utf8(parent->objectName());
        const QString name = w->objectName();
        if (name.startsWith(QStringLiteral("IT")) || name.startsWith(QStringLiteral("qt_"))) continue;
        QString caption;
        QRect room = w->rect();
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->wordWrap()) {
            caption = label->text();
            room = label->contentsRect();
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            caption = button->text().remove(QLatin1Char('&'));
        }
        if (caption.isEmpty()) continue;
        const QSize needs = CaptionNeeds(w, caption);
        EXPECT_LE(needs.width(), room.width()) << Utf8(name) << " cuts its caption " << Utf8(caption);
        EXPECT_LE(needs.height(), room.height()) << Utf8(name) << " cuts its caption " << Utf8(caption);
    }
}

// Draws the window as the X server shows it and keeps it.
void Shoot(QWidget* window, const char* name)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTest::qWait(150); // the fonts and the last repaint
    const QPixmap shot = window->grab();
    ASSERT_FALSE(shot.isNull()) << name;
    ASSERT_TRUE(shot.save(ArtifactPath(name))) << name;
    ExpectNothingClipped(window);
}

// A message box as the program shows it, kept and closed.
void ShootBox(widgets::MessageKind kind, const QString& text, const QString& title,
              QMessageBox::StandardButtons buttons, const char* name)
{
    const QMessageBox::StandardButton defaultButton =
        buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    const auto box = widgets::MakeMessageBox(nullptr, kind, text, title, buttons, defaultButton);
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
    QTest::qWait(150);
    ASSERT_TRUE(box->grab().save(ArtifactPath(name))) << name;
    // The text, wrapped to the box's width, is shown whole.
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    EXPECT_LE(label->heightForWidth(label->width()), label->height()) << name;
    EXPECT_TRUE(box->rect().contains(label->geometry())) << name;
    box->close();
}

void Choose(QComboBox* combo, const QString& item)
{
    const int i = combo->findText(item);
    ASSERT_GE(i, 0) << Utf8(item);
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    view->scrollTo(view->model()->index(i, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(i, 0)).center());
    QApplication::processEvents();
}

std::filesystem::path SampleCopy(const TempDir& copy)
{
    for (const auto& e : std::filesystem::directory_iterator(UBIN_SAMPLE_DIR))
        std::filesystem::copy(e.path(), copy.path() / e.path().filename());
    return copy.path();
}

// --- the icon and the window class -----------------------------------------------------------

TEST(Screenshots, TheIconRendersAndTheWindowClassIsTheProgramsName)
{
    const QPixmap icon = widgets::SuiteIcon().pixmap(256, 256);
    ASSERT_FALSE(icon.isNull()) << "the SVG icon engine (package libqt6svg6) is missing";
    ASSERT_TRUE(icon.save(ArtifactPath("icon")));
    // The red square and the white mark of 〒.
    const QImage image = icon.toImage();
    EXPECT_GT(qRed(image.pixel(40, 128)), 180);
    EXPECT_LT(qGreen(image.pixel(40, 128)), 60);
    EXPECT_EQ(QColor(image.pixel(128, 70)), QColor(Qt::white));
    EXPECT_FALSE(QApplication::windowIcon().isNull());

    MarubetaFixture f;
    auto& w = f.Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(w.winId()), QStringLiteral("WM_CLASS")});
    ASSERT_TRUE(xprop.waitForFinished(10000));
    const QString wmClass = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    EXPECT_TRUE(wmClass.endsWith(QStringLiteral(", \"marubeta\""))) << Utf8(wmClass);
}

// --- the windows -----------------------------------------------------------------------------

TEST(Screenshots, MarubetaAfterALookup)
{
    MarubetaFixture f("0,1,1,1,1,1,1,0,0");
    auto& w = f.Open();
    f.TypeAndEnter(QStringLiteral("7300014"));
    Shoot(&w, "marubeta");
}

TEST(Screenshots, MarubetaChoosingFromTheAreaLists)
{
    MarubetaFixture f;
    auto& w = f.Open();
    QTest::mouseClick(f.Find<QRadioButton>("Option5"), Qt::LeftButton);
    Choose(f.Find<QComboBox>("Combo1"), QStringLiteral("広島県"));
    Choose(f.Find<QComboBox>("Combo2"), QStringLiteral("廿日市市"));
    Choose(f.Find<QComboBox>("Combo3"), QStringLiteral("宮島町"));
    auto* c4 = f.Find<QComboBox>("Combo4");
    Choose(c4, c4->itemText(1));
    Shoot(&w, "marubeta_area_lists");
}

TEST(Screenshots, MarubetaClipItemsDialog)
{
    MarubetaFixture f("1,1,0,1,0,1,1,0,0");
    auto& w = f.Open();
    w.ShowClipDialog();
    Shoot(w.clipDialog(), "marubeta_clip_items");
}

TEST(Screenshots, Tenzora)
{
    TempDir root;
    PlaceContext places{root / "config", root / "cwd", root / "share"};
    std::filesystem::create_directories(places.currentFolder);
    WriteBytes(places.currentFolder / "ubscon.def",
               "\"\",\"\",\"/srv/zipdata/\",0,1200,900,1,1,1,1,0,0,1,0,0,\"END\"\r\n");
    TenzoraWindow w(places);
    ASSERT_TRUE(w.load());
    Shoot(&w, "tenzora");
}

TEST(Screenshots, PiroshenAfterASend)
{
    MarubetaFixture marubeta;
    auto& m = marubeta.Open();
    const QString service = QStringLiteral("ScreenshotService%1").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(m.StartLinkSource(service));
    TempDir files;
    WriteBytes(files / "marubeta", "#!/bin/sh\n");
    piroshen::PiroshenSetup setup;
    setup.marubetaProgram = QString::fromStdString((files / "marubeta").string());
    setup.linkService = service;
    piroshen::PiroshenWindow w(setup);
    QSignalSpy finished(&w, &piroshen::PiroshenWindow::startUpFinished);
    w.Start();
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto* text8 = w.findChild<QLineEdit*>(QStringLiteral("Text8"));
    text8->setFocus();
    text8->selectAll();
    QTest::keyClicks(text8, QStringLiteral("7300014"));
    QTest::keyClick(text8, Qt::Key_Return);
    QTest::keyClick(w.findChild<QPushButton*>(QStringLiteral("Command9")), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.findChild<QLabel*>(QStringLiteral("Label4"))->text() == "0014"; }, 10000));
    Shoot(&w, "piroshen");
}

TEST(Screenshots, QuillotAfterALookup)
{
    SoreltoHost host;
    host.WriteSettings();
    auto form = component::ReadSavedForm(QUILLOT_FORM);
    ASSERT_TRUE(form.ok());
    quillot::QuillotWindow w;
    ASSERT_TRUE(w.LoadControl(UBIN_SORELTO_REGISTRY, *form).ok());
    w.LookUpTypedCode();
    Shoot(&w, "quillot");
}

// --- the message boxes -----------------------------------------------------------------------

TEST(Screenshots, MarubetaMessages)
{
    {
        MarubetaFixture f;
        WriteBytes(f.places.currentFolder / "ubscon.def",
                   "\"\",\"\",\"" + std::string(UBIN_SAMPLE_DIR) + "\",0,99999,0,1,1,1,0,0,0,0,0,\"END\"\r\n");
        try {
            f.Open();
            FAIL() << "opened";
        } catch (const SettingsNotFound& e) {
            ShootBox(widgets::MessageKind::Error, SettingsNotFoundMessage(e), kMarubeta.title, QMessageBox::Ok,
                     "marubeta_settings_not_found");
        }
    }
    {
        TempDir copy;
        SampleCopy(copy);
        std::filesystem::remove(copy / "TOSHI1.TDB");
        MarubetaFixture f;
        WriteBytes(f.places.currentFolder / "ubscon.def",
                   "\"\",\"\",\"" + copy.path().string() + "/\",0,0,0,0,1,1,1,0,0,0,0,0,\"END\"\r\n");
        try {
            f.Open();
            FAIL() << "opened";
        } catch (const DirectoryStartUpError& e) {
            ShootBox(widgets::MessageKind::Error, widgets::DirectoryErrorText(e.what(), e.dataFolder), kMarubeta.title,
                     QMessageBox::Ok, "marubeta_directory_missing");
        }
    }
    {
        TempDir copy;
        SampleCopy(copy);
        MarubetaFixture f;
        WriteBytes(f.places.currentFolder / "ubscon.def",
                   "\"\",\"\",\"" + copy.path().string() + "/\",0,0,0,0,1,1,1,0,0,0,0,0,\"END\"\r\n");
        f.Open();
        std::filesystem::resize_file(copy / "郵便番号.CSV", 10);
        f.TypeAndEnter(QStringLiteral("7300014"));
        ASSERT_EQ(f.errors.size(), 1u);
        ShootBox(widgets::MessageKind::Warning, f.errors[0], kMarubeta.title, QMessageBox::Ok,
                 "marubeta_directory_damaged");
    }
    ShootBox(widgets::MessageKind::Warning,
             SettingsSaveFailedMessage("/home/user/.config/marubeta/ubscon.def",
                                       "/home/user/.config/marubeta/ubscon.def: cannot be replaced: Permission denied"),
             kMarubeta.title, QMessageBox::Ok, "marubeta_settings_save_failed");
}

TEST(Screenshots, TenzoraMessages)
{
    TempDir root;
    PlaceContext places{root / "config", root / "cwd", root / "share"};
    std::filesystem::create_directories(places.currentFolder);
    QStringList messages;
    {
        TenzoraWindow w(places);
        w.setMessageFunction([&](QWidget*, const QString& text) { messages << text; });
        ASSERT_FALSE(w.load());
    }
    WriteBytes(places.currentFolder / "ubscon.def", "\"\",\"\",\"/srv/zip/\",0,0,0,1,1,1,0,0,0,0,0,0,\"END\"\r\n");
    {
        TenzoraWindow w(places);
        w.setMessageFunction([&](QWidget*, const QString& text) { messages << text; });
        ASSERT_TRUE(w.load());
        w.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("/srv/zip\U0001F4EE"));
        w.close();
    }
    ASSERT_EQ(messages.size(), 2);
    ShootBox(widgets::MessageKind::Error, messages[0], TenzoraWindow::title(), QMessageBox::Ok, "tenzora_settings_not_found");
    ShootBox(widgets::MessageKind::Error, messages[1], TenzoraWindow::title(), QMessageBox::Ok, "tenzora_write_failed");
}

TEST(Screenshots, PiroshenMessages)
{
    using piroshen::PiroshenWindow;
    ShootBox(widgets::MessageKind::Question, PiroshenWindow::kAskStartText, PiroshenWindow::kAskStartTitle,
             QMessageBox::Yes | QMessageBox::No, "piroshen_ask_start");
    widgets::SetProgramTitle(PiroshenWindow::kTitle); // the box of an empty title names the program
    ShootBox(widgets::MessageKind::Warning, PiroshenWindow::StartFailedMessage(QStringLiteral("/usr/local/bin/marubeta")),
             QString(), QMessageBox::Ok | QMessageBox::Cancel, "piroshen_start_failed");
    widgets::SetProgramTitle(kMarubeta.title);
}

TEST(Screenshots, QuillotMessages)
{
    const QString title = QStringLiteral("Ubinコントロールのテスト");
    const std::filesystem::path library = "/usr/local/lib/marubeta/libsorelto.so";
    SoreltoHost host; // no settings file anywhere
    TempDir empty;
    auto form = component::ReadSavedForm(QUILLOT_FORM);
    ASSERT_TRUE(form.ok());
    {
        quillot::QuillotWindow w;
        const component::Status s = w.LoadControl(empty / "classes.json", *form);
        ASSERT_EQ(s.code(), component::kErrorNotRegistered);
        ShootBox(widgets::MessageKind::Error,
                 quillot::CreationFailedMessage(s, "/home/user/.config/marubeta/classes.json", library), title,
                 QMessageBox::Ok, "quillot_not_registered");
    }
    {
        quillot::QuillotWindow w;
        const component::Status s = w.LoadControl(UBIN_SORELTO_REGISTRY, *form);
        ASSERT_FALSE(s.ok());
        ShootBox(widgets::MessageKind::Error, quillot::CreationFailedMessage(s, UBIN_SORELTO_REGISTRY, library), title,
                 QMessageBox::Ok, "quillot_creation_failed");
    }
    ShootBox(widgets::MessageKind::Error,
             quillot::CallFailedMessage(QStringLiteral("member 0x6003002D: /srv/zip/郵便番号.CSV: record 12 is cut short "
                                                       "by the end of the file")),
             title, QMessageBox::Ok, "quillot_call_failed");
}

} // namespace
} // namespace ubin::test

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ubin::widgets::SetUpApplication(ubin::test::kMarubeta);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
