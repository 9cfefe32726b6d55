// The search window driven as a user drives it, on the sample directory.
#include "qt/widgets/search_guard.h"
#include "tests/marubeta/marubeta_fixture.h"

#include "base/errors.h"
#include "qt/widgets/program.h"
#include "qt/widgets/twips.h"
#include "tests/support/type_text.h"
#include "builder/builder.h"

#include <QAbstractItemView>
#include <QClipboard>
#include <QAction>
#include <QCheckBox>
#include <QInputMethodEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QWindow>

#include <gtest/gtest.h>

using ubin::test::MarubetaFixture;

namespace {

std::string Utf8(const QString& s) { return s.toStdString(); }

QColor Background(QWidget* w) { return w->palette().color(w->backgroundRole()); }

void Choose(QComboBox* combo, const QString& item)
{
    const int i = combo->findText(item);
    ASSERT_GE(i, 0) << Utf8(item) << " is not in " << Utf8(combo->objectName());
    // Pick it from the drop-down list with the mouse, as a user does.
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    view->scrollTo(view->model()->index(i, 0));
    const QRect r = view->visualRect(view->model()->index(i, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    QApplication::processEvents();
}

} // namespace

TEST(MarubetaWindow, StartsWithTheDesignTextsAndAnEmptySearch)
{
    MarubetaFixture f;
    auto& w = f.Open();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("郵便番号簿"));
    EXPECT_EQ(f.Text("Label1"), QStringLiteral("郵便番号 "));
    EXPECT_EQ(f.Text("Label5"), QStringLiteral("730-0014"));
    for (const char* e : {"ITUbin", "IT1", "IT2", "IT3", "IT4", "IT5", "IT6", "Text6", "Label9", "Combo1", "Combo4"})
        EXPECT_EQ(f.Text(e), QString()) << e;
    EXPECT_TRUE(f.Find<QRadioButton>("Option1")->isChecked());
    EXPECT_FALSE(f.Find<QPushButton>("Command7")->isEnabled());
    EXPECT_FALSE(f.Find<QPushButton>("Command8")->isEnabled());
    EXPECT_TRUE(f.Find<QLineEdit>("ITUbin")->hasFocus());
    EXPECT_EQ(w.search().searchMode(), ubin::kModePostal);
}

TEST(MarubetaWindow, PostalCodeTypedThenEnterShowsTheEntry)
{
    MarubetaFixture f;
    f.Open();
    f.TypeAndEnter(QStringLiteral("7300014"));
    EXPECT_EQ(f.Text("IT1"), QStringLiteral("730"));
    EXPECT_EQ(f.Text("IT2"), QStringLiteral("0014"));
    EXPECT_EQ(f.Text("IT3"), QStringLiteral("広島市中区"));
    EXPECT_EQ(f.Text("IT4"), QStringLiteral("上幟町"));
    EXPECT_EQ(f.Text("IT5"), QStringLiteral("ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ"));
    EXPECT_EQ(f.Text("IT6"), QStringLiteral("34101"));
    EXPECT_EQ(f.Text("ITUbin"), QStringLiteral("7300014")); // Enter is consumed, the text stays
    EXPECT_TRUE(f.Find<QPushButton>("Command7")->isEnabled());
    EXPECT_TRUE(f.Find<QPushButton>("Command8")->isEnabled());

    // Three characters: the first entry of 730-0000.
    f.Find<QLineEdit>("ITUbin")->clear();
    f.TypeAndEnter(QStringLiteral("730"));
    EXPECT_EQ(f.Text("IT1") + f.Text("IT2"), QStringLiteral("7300000"));
    EXPECT_EQ(f.Text("IT4"), QStringLiteral("以下に掲載がない場合"));

    // A code not in the directory.
    f.Find<QLineEdit>("ITUbin")->clear();
    f.TypeAndEnter(QStringLiteral("0000001"));
    EXPECT_EQ(f.Text("Text6"), QStringLiteral("*** 該当するものが見付からない **"));
    EXPECT_EQ(f.Text("IT1"), QString());
    EXPECT_TRUE(f.errors.empty());
}

TEST(MarubetaWindow, ModeSwitchTextsColoursAndFocus)
{
    MarubetaFixture f;
    f.Open();
    const QColor grey(192, 192, 192), white(255, 255, 255);
    struct Case {
        const char* option;
        const char* prompt;
        const char* example;
    } cases[] = {{"Option1", "郵便番号", "730-0014 / 730"},
                 {"Option2", "都市ｺｰﾄﾞ", "34101 / 34"},
                 {"Option3", "町／字", "ｶﾐﾉﾎﾞﾘﾏﾁ / ｷﾞﾝｻﾞ"},
                 {"Option4", "町／字", "上幟町 / 銀座"}};
    for (const auto& c : cases) {
        f.TypeAndEnter(QStringLiteral("7300014"));
        QTest::mouseClick(f.Find<QRadioButton>(c.option), Qt::LeftButton);
        EXPECT_EQ(f.Text("Label1"), QString::fromUtf8(c.prompt)) << c.option;
        EXPECT_EQ(f.Text("Label5"), QString::fromUtf8(c.example)) << c.option;
        EXPECT_EQ(f.Text("ITUbin"), QString()) << c.option;
        EXPECT_EQ(f.Text("IT1"), QString()) << c.option;
        EXPECT_FALSE(f.Find<QPushButton>("Command7")->isEnabled()) << c.option;
        EXPECT_TRUE(f.Find<QLineEdit>("ITUbin")->isEnabled());
        EXPECT_TRUE(f.Find<QLineEdit>("ITUbin")->hasFocus()) << c.option;
        EXPECT_EQ(Background(f.Find<QLineEdit>("ITUbin")), white);
        EXPECT_EQ(f.Find<QComboBox>("Combo2")->palette().color(QPalette::Base), grey);
    }
    // Mode 5 keeps the texts of mode 4, greys the entry box and lists the prefectures once.
    QTest::mouseClick(f.Find<QRadioButton>("Option5"), Qt::LeftButton);
    QTest::mouseClick(f.Find<QRadioButton>("Option1"), Qt::LeftButton);
    QTest::mouseClick(f.Find<QRadioButton>("Option4"), Qt::LeftButton);
    QTest::mouseClick(f.Find<QRadioButton>("Option5"), Qt::LeftButton);
    EXPECT_EQ(f.Text("Label1"), QStringLiteral("町／字"));
    EXPECT_EQ(f.Text("Label5"), QStringLiteral("上幟町 / 銀座"));
    EXPECT_FALSE(f.Find<QLineEdit>("ITUbin")->isEnabled());
    EXPECT_EQ(f.Find<QLineEdit>("ITUbin")->palette().color(QPalette::Base), grey);
    EXPECT_EQ(f.Find<QComboBox>("Combo1")->palette().color(QPalette::Base), white);
    auto* combo1 = f.Find<QComboBox>("Combo1");
    ASSERT_EQ(combo1->count(), 47);
    EXPECT_EQ(combo1->itemText(0), QStringLiteral("岡山県"));
    EXPECT_EQ(combo1->itemText(46), QStringLiteral("北海道"));
    EXPECT_EQ(combo1->currentText(), QStringLiteral("都道府県"));
}

TEST(MarubetaWindow, PagingAtBothEndsBeepsAndDisables)
{
    MarubetaFixture f;
    f.Open();
    auto* prev = f.Find<QPushButton>("Command7");
    auto* next = f.Find<QPushButton>("Command8");
    // The empty key finds index record 1: the lowest postal code of the directory.
    f.TypeAndEnter(QString());
    const QString first = f.Text("IT1") + f.Text("IT2");
    EXPECT_FALSE(first.isEmpty());
    QTest::mouseClick(prev, Qt::LeftButton);
    EXPECT_EQ(f.beeps, 1);
    EXPECT_FALSE(prev->isEnabled());
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_TRUE(prev->isEnabled()); // a step forward enables 前候補 again
    EXPECT_GT(f.Text("IT1") + f.Text("IT2"), first);

    // From the last record, 次候補 beeps and disables itself; 前候補 still steps back.
    const ubin::Lookup& lookup = f.window->search().lookup();
    const std::int32_t last = ubin::IndexRecords(lookup).RecordCount(ubin::KeyIndex::Postal);
    f.TypeAndEnter(QString::fromStdU16String(lookup.ReadEntry(ubin::IndexRecords(lookup).EntryOfRecord(ubin::KeyIndex::Postal, last)).postalCode));
    const auto& s = f.window->search();
    while (s.candPos() < last && next->isEnabled()) QTest::mouseClick(next, Qt::LeftButton);
    ASSERT_EQ(s.candPos(), last);
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(f.beeps, 2);
    EXPECT_FALSE(next->isEnabled());
    QTest::mouseClick(prev, Qt::LeftButton);
    EXPECT_EQ(s.candPos(), s.candHigh() - 1);
    EXPECT_FALSE(next->isEnabled());
}

TEST(MarubetaWindow, AreaListsWithTheMouseAndWithEnter)
{
    MarubetaFixture f;
    f.Open();
    QTest::mouseClick(f.Find<QRadioButton>("Option5"), Qt::LeftButton);
    auto* c1 = f.Find<QComboBox>("Combo1");
    auto* c2 = f.Find<QComboBox>("Combo2");
    auto* c3 = f.Find<QComboBox>("Combo3");
    auto* c4 = f.Find<QComboBox>("Combo4");

    // Enter in a list moves on to the next one without choosing anything.
    c1->setFocus();
    QTest::keyClick(c1, Qt::Key_Return);
    EXPECT_TRUE(c2->hasFocus());
    EXPECT_EQ(c2->count(), 0);

    Choose(c1, QStringLiteral("広島県"));
    EXPECT_EQ(c2->currentText(), QStringLiteral("広島県"));
    EXPECT_GE(c2->count(), 8);
    EXPECT_EQ(c2->itemText(0), QStringLiteral("広島市中区"));

    Choose(c2, QStringLiteral("広島市中区"));
    EXPECT_EQ(c3->currentText(), QStringLiteral("広島市中区"));
    EXPECT_GE(c3->findText(QStringLiteral("上幟町")), 0);

    // A town with a single entry is shown at once.
    Choose(c3, QStringLiteral("上幟町"));
    EXPECT_EQ(f.Text("IT1") + f.Text("IT2"), QStringLiteral("7300014"));
    EXPECT_EQ(c4->count(), 0);

    // A town with sub-areas fills the fourth list; the address follows the sub-area chosen.
    QTest::mouseClick(f.Find<QRadioButton>("Option2"), Qt::LeftButton);
    QTest::mouseClick(f.Find<QRadioButton>("Option5"), Qt::LeftButton);
    Choose(c1, QStringLiteral("広島県"));
    Choose(c2, QStringLiteral("廿日市市"));
    Choose(c3, QStringLiteral("宮島町"));
    ASSERT_GE(c4->count(), 2);
    EXPECT_EQ(c4->currentText(), c4->itemText(0));
    EXPECT_EQ(f.Text("IT1"), QString()); // nothing shown until a sub-area is chosen
    Choose(c4, c4->itemText(1));
    EXPECT_EQ(f.Text("IT4"), QStringLiteral("宮島町"));
    EXPECT_FALSE(f.Text("Text6").isEmpty());

    // With the keyboard: open the list, step down, Enter.
    c1->setFocus();
    QTest::keyClick(c1, Qt::Key_Down, Qt::AltModifier);
    QTest::keyClick(c1->view(), Qt::Key_Down);
    QTest::keyClick(c1->view(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(c2->currentText(), c1->currentText());
    EXPECT_GT(c2->count(), 0);
}

// A list fires its choice only when the user picks an item from it: a typed prefecture, or a
// sub-area the program put into the edit field, chooses nothing when the focus moves on.
TEST(MarubetaWindow, AreaListsChooseOnlyWhatTheUserPicks)
{
    MarubetaFixture f;
    auto& w = f.Open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::mouseClick(f.Find<QRadioButton>("Option5"), Qt::LeftButton);
    auto* c1 = f.Find<QComboBox>("Combo1");
    auto* c2 = f.Find<QComboBox>("Combo2");
    auto* c3 = f.Find<QComboBox>("Combo3");
    auto* c4 = f.Find<QComboBox>("Combo4");

    c1->setFocus();
    c1->lineEdit()->selectAll();
    ubin::test::TypeText(c1, QStringLiteral("広島県"));
    QTest::keyClick(c1, Qt::Key_Tab);
    EXPECT_EQ(c2->count(), 0) << "typing a prefecture is no choice";
    EXPECT_EQ(c2->currentText(), QString());

    // A town with sub-areas puts the first one into Combo4's edit field; Enter in Combo3
    // moves there and Tab moves on: no address is shown until a sub-area is picked.
    Choose(c1, QStringLiteral("広島県"));
    Choose(c2, QStringLiteral("廿日市市"));
    Choose(c3, QStringLiteral("宮島町"));
    ASSERT_GE(c4->count(), 2);
    ASSERT_EQ(c4->currentText(), c4->itemText(0));
    // The drop-down lists took the activation with them.
    w.windowHandle()->requestActivate();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == w.windowHandle(); }));
    c3->setFocus();
    QTest::keyClick(c3, Qt::Key_Return);
    ASSERT_TRUE(c4->hasFocus());
    QTest::keyClick(c4, Qt::Key_Return);
    QTest::keyClick(c4, Qt::Key_Tab);
    EXPECT_FALSE(c4->hasFocus());
    EXPECT_EQ(f.Text("IT1") + f.Text("IT4"), QString()) << "nothing chosen, nothing shown";
    EXPECT_EQ(c4->count(), c4->findText(c4->itemText(c4->count() - 1)) + 1) << "no typed item was added";

    // Stepping with the arrow keys on the closed list is a pick.
    c4->setFocus();
    QTest::keyClick(c4, Qt::Key_Down);
    EXPECT_EQ(f.Text("IT4"), QStringLiteral("宮島町"));
    EXPECT_TRUE(f.errors.empty());
}

TEST(MarubetaWindow, EnterOnAFocusedButtonClicksIt)
{
    MarubetaFixture f;
    auto& w = f.Open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    f.TypeAndEnter(QStringLiteral("7300014"));
    auto* next = f.Find<QPushButton>("Command8");
    next->setFocus();
    QTest::keyClick(next, Qt::Key_Return);
    EXPECT_EQ(f.Text("IT2"), QStringLiteral("0015"));
    EXPECT_TRUE(next->hasFocus()) << "the focus stays, to page on";
    QTest::keyClick(next, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(f.Text("IT2"), QStringLiteral("0016"));

    auto* clear = f.Find<QPushButton>("Command2");
    clear->setFocus();
    QTest::keyClick(clear, Qt::Key_Return);
    EXPECT_EQ(f.Text("IT1") + f.Text("ITUbin"), QString());
}

TEST(MarubetaWindow, PageKeysPageAndTypingGoesOnInTheEntryBox)
{
    MarubetaFixture f;
    auto& w = f.Open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto* entry = f.Find<QLineEdit>("ITUbin");
    auto* next = f.Find<QPushButton>("Command8");
    f.TypeAndEnter(QStringLiteral("7300014"));

    QTest::keyClick(entry, Qt::Key_PageDown);
    EXPECT_EQ(f.Text("IT2"), QStringLiteral("0015"));
    QTest::keyClick(entry, Qt::Key_PageDown);
    QTest::keyClick(entry, Qt::Key_PageUp);
    EXPECT_EQ(f.Text("IT2"), QStringLiteral("0015"));
    EXPECT_TRUE(entry->hasFocus());

    // A click with the mouse leaves the focus in the entry box.
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(f.Text("IT2"), QStringLiteral("0016"));
    EXPECT_TRUE(entry->hasFocus());
    QTest::keyClicks(entry, QStringLiteral("9"));
    EXPECT_EQ(f.Text("ITUbin"), QStringLiteral("73000149"));

    // Space on the focused button keeps the focus there.
    next->setFocus();
    QTest::keyClick(next, Qt::Key_Space);
    EXPECT_EQ(f.Text("IT2"), QStringLiteral("0017"));
    EXPECT_TRUE(next->hasFocus());

    // Escape empties the entry box; Ctrl+Z brings the text back.
    entry->setFocus();
    QTest::keyClick(entry, Qt::Key_Escape);
    EXPECT_EQ(f.Text("ITUbin"), QString());
    QTest::keyClick(entry, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(f.Text("ITUbin"), QStringLiteral("73000149"));

    // With paging disabled the keys page nothing.
    QTest::mouseClick(f.Find<QRadioButton>("Option2"), Qt::LeftButton);
    ASSERT_FALSE(next->isEnabled());
    QTest::keyClick(entry, Qt::Key_PageDown);
    EXPECT_EQ(f.Text("IT2") + f.Text("IT6"), QString());
    EXPECT_EQ(f.beeps, 0);
}

TEST(MarubetaWindow, AutoClipCopiesEveryShownResultAsTheControlDoes)
{
    MarubetaFixture f("1,1,1,1,0,0,0,0,0");
    f.Open();
    f.TypeAndEnter(QStringLiteral("7300014"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("730-0014,広島市中区, 上幟町"));
    QTest::keyClick(f.Find<QWidget>("ITUbin"), Qt::Key_PageDown);
    EXPECT_EQ(QApplication::clipboard()->text().left(8), QStringLiteral("730-0015"));

    // Nothing found, a city that does not exist, a clear: no copy.
    QApplication::clipboard()->setText(QStringLiteral("kept"));
    f.Find<QLineEdit>("ITUbin")->clear();
    f.TypeAndEnter(QStringLiteral("0000001"));
    QTest::mouseClick(f.Find<QPushButton>("Command2"), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("kept"));

    // A city line is a shown result too.
    QTest::mouseClick(f.Find<QRadioButton>("Option2"), Qt::LeftButton);
    f.TypeAndEnter(QStringLiteral("34101"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("-,") + f.Text("IT3") + QStringLiteral(", "));

    // Off: the window copies only on クリップ.
    MarubetaFixture off("0,1,1,1,0,0,0,0,0");
    off.Open();
    QApplication::clipboard()->setText(QStringLiteral("kept"));
    off.TypeAndEnter(QStringLiteral("7300014"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("kept"));
}

TEST(MarubetaWindow, PrefectureChoiceReachesTheNextCopy)
{
    MarubetaFixture f("0,0,1,0,1,0,0,0,0");
    auto& w = f.Open();
    f.TypeAndEnter(QStringLiteral("7300014"));
    auto copy = [&] {
        QTest::mouseClick(f.Find<QPushButton>("Command1"), Qt::LeftButton);
        return QApplication::clipboard()->text();
    };
    auto setPrefecture = [&](bool on) {
        w.ShowClipDialog();
        w.clipDialog()->SetBoxChecked(6, on);
        w.clipDialog()->close();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the closed dialog goes
    };
    EXPECT_EQ(copy(), QStringLiteral("広島市中区,ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ"));

    setPrefecture(true);
    EXPECT_EQ(copy(), QStringLiteral("広島県広島市中区,ﾋﾛｼﾏｹﾝﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ"));
    EXPECT_EQ(f.Text("IT3"), QStringLiteral("広島県広島市中区")) << "the display and the copy agree";

    setPrefecture(false);
    EXPECT_EQ(copy(), QStringLiteral("広島市中区,ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ"));

    // A result no longer on display is left alone.
    QTest::mouseClick(f.Find<QPushButton>("Command2"), Qt::LeftButton);
    setPrefecture(true);
    EXPECT_EQ(f.Text("IT3"), QString());
}

TEST(MarubetaWindow, ClipDialogLoadsAndStoresTheFlags)
{
    // Flag 2 holds 2: shown unchecked, stored as 0 when the dialog closes. Flags 7 and 8 stay.
    MarubetaFixture f("0,1,2,1,0,0,0,7,8");
    auto& w = f.Open();
    w.findChild<QAction*>(QStringLiteral("menuClip"))->trigger();
    auto* dialog = w.clipDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("クリップ定義"));
    EXPECT_TRUE(dialog->IsBoxChecked(1));
    EXPECT_FALSE(dialog->IsBoxChecked(2));
    dialog->SetBoxChecked(5, true);
    // Opening it again brings it to the front without reloading the boxes.
    w.findChild<QAction*>(QStringLiteral("menuClip"))->trigger();
    EXPECT_EQ(w.clipDialog(), dialog);
    EXPECT_TRUE(dialog->IsBoxChecked(5));
    EXPECT_EQ(w.settings().clipFlags[5], 0); // nothing changes until the dialog closes
    dialog->close();
    EXPECT_EQ(w.settings().clipFlags, (ubin::ClipFlags{0, 1, 0, 1, 0, 1, 0, 7, 8}));

    // The clip command uses the new flags at once.
    f.TypeAndEnter(QStringLiteral("7300014"));
    QTest::mouseClick(f.Find<QPushButton>("Command1"), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("730-0014, 上幟町,34101"));
}

TEST(MarubetaWindow, ShutDownWritesTheSettingsWithThePositionOfTheLastLookup)
{
    MarubetaFixture f;
    auto& w = f.Open();
    // A lookup records where the window stood; moving it afterwards changes nothing.
    w.move(100, 60);
    QApplication::processEvents();
    const QPoint at = w.pos();
    f.TypeAndEnter(QStringLiteral("7300014"));
    w.move(300, 200);
    QApplication::processEvents();

    // Changes in a dialog still open at the end are lost.
    w.ShowClipDialog();
    w.clipDialog()->SetBoxChecked(4, true);
    w.findChild<QAction*>(QStringLiteral("menuEnd"))->trigger();
    ASSERT_TRUE(w.isShutDown());
    ASSERT_FALSE(w.directory().IsOpen(1));

    const auto saved = ubin::ReadSettingsFile(f.places.windowsFolder / "ubscon.def");
    const ubin::widgets::Dpi dpi = ubin::widgets::LogicalDpi(&w);
    EXPECT_EQ(saved.windowLeft, ubin::widgets::PixelsToTwips(at.x(), dpi.x));
    EXPECT_EQ(saved.windowTop, ubin::widgets::PixelsToTwips(at.y(), dpi.y));
    EXPECT_EQ(saved.clipFlags, (ubin::ClipFlags{0, 1, 1, 1, 0, 0, 0, 7, 8}));
    EXPECT_EQ(saved.reserved1, u"r1");
    // The current-folder copy the settings came from is left as it was.
    EXPECT_NE(ubin::test::ReadBytes(f.places.currentFolder / "ubscon.def").find("1200,900"), std::string::npos);
}

TEST(MarubetaWindow, StartUpFailuresNameWhatIsMissing)
{
    {
        MarubetaFixture f;
        std::filesystem::remove(f.places.currentFolder / "ubscon.def");
        EXPECT_THROW(f.Open(), ubin::SettingsNotFound);
    }
    {
        // A settings file that is there but malformed is named, with what is wrong in it.
        MarubetaFixture f;
        ubin::test::WriteBytes(f.places.currentFolder / "ubscon.def",
                               "\"\",\"\",\"" + std::string(UBIN_SAMPLE_DIR) + "\",0,99999,0,1,1,1,0,0,0,0,0,\"END\"\r\n");
        try {
            f.Open();
            FAIL() << "the window opened with a malformed settings file";
        } catch (const ubin::SettingsNotFound& e) {
            const QString message = ubin::SettingsNotFoundMessage(e);
            EXPECT_TRUE(message.startsWith(ubin::SettingsNotFoundMessage() + QStringLiteral("\n"))) << Utf8(message);
            const QString file = QString::fromStdString((f.places.currentFolder / "ubscon.def").string());
            EXPECT_TRUE(message.contains(file + QStringLiteral("\n　→ 5 番目の値「99999」が 16 ビットの整数")))
                << Utf8(message);
            EXPECT_TRUE(message.contains(QString::fromStdString(f.places.windowsFolder.string()))) << Utf8(message);
        }
    }
    {
        ubin::test::TempDir copy;
        for (const auto& e : std::filesystem::directory_iterator(UBIN_SAMPLE_DIR))
            std::filesystem::copy(e.path(), copy.path() / e.path().filename());
        std::filesystem::remove(copy / "TOSHI1.TDB");
        MarubetaFixture f;
        ubin::test::WriteBytes(f.places.currentFolder / "ubscon.def",
                               "\"\",\"\",\"" + copy.path().string() + "/\",0,0,0,0,1,1,1,0,0,0,0,0,\"END\"\r\n");
        try {
            f.Open();
            FAIL() << "the window opened without TOSHI1.TDB";
        } catch (const ubin::DirectoryStartUpError& e) {
            EXPECT_NE(std::string(e.what()).find("TOSHI1.TDB"), std::string::npos);
            // The message names the file and the folder from the settings, and what to do.
            const QString message = ubin::widgets::DirectoryErrorText(e.what(), e.dataFolder);
            EXPECT_TRUE(message.startsWith(QStringLiteral("郵便番号辞書のファイルがありません。\nファイル: TOSHI1.TDB\n")))
                << Utf8(message);
            EXPECT_TRUE(message.contains(QString::fromStdString(copy.path().string() + "/"))) << Utf8(message);
            EXPECT_TRUE(message.contains(QStringLiteral("tenzora"))) << Utf8(message);
        }
    }
}

TEST(MarubetaWindow, AFileCutShortWhileRunningIsReportedAndTheWindowStaysUsable)
{
    ubin::test::TempDir copy;
    for (const auto& e : std::filesystem::directory_iterator(UBIN_SAMPLE_DIR))
        std::filesystem::copy(e.path(), copy.path() / e.path().filename());
    MarubetaFixture f;
    ubin::test::WriteBytes(f.places.currentFolder / "ubscon.def",
                           "\"\",\"\",\"" + copy.path().string() + "/\",0,0,0,0,1,1,1,0,0,0,0,0,\"END\"\r\n");
    f.Open();
    std::filesystem::resize_file(copy / "郵便番号.CSV", 10);
    f.TypeAndEnter(QStringLiteral("7300014"));
    ASSERT_EQ(f.errors.size(), 1u);
    EXPECT_TRUE(f.errors[0].startsWith(QStringLiteral("郵便番号辞書のファイルを読めません。\nファイル: 郵便番号.CSV\n")))
        << Utf8(f.errors[0]);
    // Other lookups still work: a city code reads only the city files.
    QTest::mouseClick(f.Find<QRadioButton>("Option2"), Qt::LeftButton);
    f.TypeAndEnter(QStringLiteral("34101"));
    EXPECT_EQ(f.Text("IT6"), QStringLiteral("34101"));
}

TEST(MarubetaWindow, ASettingsFileItCouldNotReadIsKeptBesideTheOneItWritesAndTheUserIsTold)
{
    MarubetaFixture f;
    // The settings folder's own file has one value out of range: start-up skips it and takes
    // the current folder's.
    std::filesystem::create_directories(f.places.windowsFolder);
    const std::string mine = "\"\",\"\",\"/my/zipdata/\",0,1200,99999,0,1,1,1,0,0,0,0,0,\"END\"\r\n";
    ubin::test::WriteBytes(f.places.windowsFolder / "ubscon.def", mine);
    auto& w = f.Open();
    EXPECT_TRUE(f.errors.empty());
    w.ShutDownProgram();

    const auto kept = f.places.windowsFolder / "ubscon.def.unreadable";
    EXPECT_EQ(ubin::test::ReadBytes(kept), mine) << "the user's file was not kept as it was";
    EXPECT_EQ(ubin::ReadSettingsFile(f.places.windowsFolder / "ubscon.def").dataFolder,
              ubin::FromUtf8(UBIN_SAMPLE_DIR));
    ASSERT_EQ(f.errors.size(), 1u);
    const std::string told = Utf8(f.errors[0]);
    EXPECT_NE(told.find("読み取れなかった"), std::string::npos) << told;
    EXPECT_NE(told.find(kept.string()), std::string::npos) << told;
    EXPECT_NE(told.find("value 6"), std::string::npos) << "the reason is part of the message: " << told;
}

// Kana typed with an input method (committed as full-width katakana or hiragana) find in the
// 町域（ｶﾅ） mode what the half-width reading finds; a business code shows its office.
TEST(MarubetaWindow, KanaFromAnInputMethodAndOfficeCodes)
{
    MarubetaFixture f;
    f.Open();
    QTest::mouseClick(f.Find<QRadioButton>("Option3"), Qt::LeftButton);
    auto* box = f.Find<QLineEdit>("ITUbin");
    // What an input method commits into the entry box, then Enter.
    const auto commitAndEnter = [&](const QString& typed) {
        box->clear();
        QInputMethodEvent commit;
        commit.setCommitString(typed);
        QApplication::sendEvent(box, &commit);
        ASSERT_EQ(box->text(), typed);
        QTest::keyClick(box, Qt::Key_Return);
    };
    commitAndEnter(QStringLiteral("ｷﾞﾝｻﾞ"));
    const QString ginza = f.Text("IT1") + f.Text("IT2") + f.Text("IT4");
    ASSERT_EQ(f.Text("IT4"), QStringLiteral("銀座"));
    for (const QString& typed : {QStringLiteral("ギンザ"), QStringLiteral("ぎんざ")}) {
        QTest::mouseClick(f.Find<QPushButton>("Command2"), Qt::LeftButton); // clear, so each shows anew
        commitAndEnter(typed);
        EXPECT_EQ(f.Text("IT1") + f.Text("IT2") + f.Text("IT4"), ginza) << typed.toStdString();
    }

    QTest::mouseClick(f.Find<QRadioButton>("Option1"), Qt::LeftButton);
    f.TypeAndEnter(QStringLiteral("1008111"));
    EXPECT_EQ(f.Text("Text6"), QStringLiteral("宮内庁"));
    EXPECT_EQ(f.Text("IT4"), QStringLiteral("千代田１－１"));
    EXPECT_FALSE(f.Find<QPushButton>("Command8")->isEnabled());
}

// ubin-build replaces the directory folder while the window runs: the next lookup reads the new
// build, and candidates and lists of the old one are gone.
TEST(MarubetaWindow, ADirectoryRebuiltWhileItRunsIsTakenUpAtTheNextLookup)
{
    ubin::test::TempDir data;
    const std::string sample = ubin::test::ReadBytes(UBIN_SAMPLE_CSV);
    // The second build names the town of 730-0014 anew.
    const std::string oldTown = ubin::EncodeCp932(u"上幟町"), newTown = ubin::EncodeCp932(u"新幟町");
    std::string renamed = sample;
    for (std::size_t at = renamed.find(oldTown); at != std::string::npos; at = renamed.find(oldTown, at))
        renamed.replace(at, oldTown.size(), newTown);
    ubin::test::WriteBytes(data / "a.csv", sample);
    ubin::test::WriteBytes(data / "b.csv", renamed);
    ubin::BuildDirectory(data / "a.csv", data / "dir");

    MarubetaFixture f("0,1,1,1,0,0,0,7,8", "1200,900", (data / "dir").string() + "/");
    f.Open();
    f.TypeAndEnter(QStringLiteral("7300014"));
    ASSERT_EQ(f.Text("IT4"), QStringLiteral("上幟町"));
    EXPECT_TRUE(f.Find<QPushButton>("Command8")->isEnabled());

    ubin::BuildDirectory(data / "b.csv", data / "dir");
    QTest::qWait(600); // the window looks at its folder at most twice a second
    QTest::mouseClick(f.Find<QPushButton>("Command8"), Qt::LeftButton);
    EXPECT_FALSE(f.Find<QPushButton>("Command8")->isEnabled()); // the old build's candidates are gone
    f.Find<QLineEdit>("ITUbin")->clear();
    f.TypeAndEnter(QStringLiteral("7300014"));
    EXPECT_EQ(f.Text("IT4"), QStringLiteral("新幟町"));
    EXPECT_TRUE(f.errors.empty());
}

// The version box names the program's version and the data's edition: the sample's, guessed
// from its input files, then "unknown" once the folder is rebuilt with a manifest of the kind
// written before editions were recorded.
TEST(MarubetaWindow, VersionBoxNamesTheDataEdition)
{
    MarubetaFixture f;
    auto& w = f.Open();
    const ubin::DirectoryEdition sample = ubin::FolderEdition(w.directory().dataFolder);
    ASSERT_TRUE(sample.month);
    QString shown;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->objectName(), QStringLiteral("VersionBox"));
        shown = static_cast<QMessageBox*>(box)->text();
        static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    });
    w.findChild<QAction*>(QStringLiteral("menuVersion"))->trigger();
    EXPECT_EQ(shown, QStringLiteral("郵便番号簿 Ver.") + ubin::widgets::SuiteVersion() + QStringLiteral("\nデータ版 ")
                         + QString::fromStdString(ubin::FormatYearMonth(*sample.month)) + QStringLiteral("（推定）"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    const struct {
        ubin::DirectoryEdition edition;
        QString text;
    } cases[] = {
        {{ubin::YearMonth{2026, 11}, false}, QStringLiteral("データ版 2026-11")},
        {{ubin::YearMonth{2026, 11}, true}, QStringLiteral("データ版 2026-11（推定）")},
        {{}, QStringLiteral("データ版 不明")},
    };
    for (const auto& c : cases) EXPECT_EQ(ubin::widgets::DataEditionText(c.edition), c.text);
}
