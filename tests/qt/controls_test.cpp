// How the suite's buttons, lists and text boxes behave under the user's hands: Enter on a
// focused push button, the choice of an editable list, and the edits of a text box that the
// search face reports (and the ones it does not: its own writes).
#include "qt/widgets/controls.h"
#include "qt/widgets/qt_face.h"
#include "tests/support/type_text.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace ubin::widgets {
namespace {

// A shown, active window whose children can take the focus.
struct Form {
    QWidget window;
    QVBoxLayout* layout = new QVBoxLayout(&window);

    template <class W>
    W* Add(const char* name)
    {
        auto* w = new W;
        w->setObjectName(QString::fromLatin1(name));
        layout->addWidget(w);
        return w;
    }

    void Show()
    {
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
};

TEST(EnterClicksButtons, EnterAndKeypadEnterOnTheFocusedButtonClickItAsSpaceDoes)
{
    Form f;
    auto* first = f.Add<QPushButton>("Command1");
    auto* second = f.Add<QPushButton>("Command2");
    EnterClicksButtons(&f.window);
    f.Show();
    QSignalSpy firstClicks(first, &QPushButton::clicked);
    QSignalSpy secondClicks(second, &QPushButton::clicked);

    second->setFocus();
    QTest::keyClick(second, Qt::Key_Return);
    QTest::keyClick(second, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(second, Qt::Key_Space);
    EXPECT_EQ(secondClicks.count(), 3);
    EXPECT_EQ(firstClicks.count(), 0) << "only the focused button";
    EXPECT_TRUE(second->hasFocus()) << "the focus stays on the button";

    // A disabled button stays silent.
    first->setEnabled(false);
    QTest::keyClick(first, Qt::Key_Return);
    EXPECT_EQ(firstClicks.count(), 0);
}

class ListChoice : public ::testing::Test {
protected:
    ListChoice()
    {
        list = f.Add<QComboBox>("Combo1");
        list->setEditable(true);
        list->addItems({QStringLiteral("岡山県"), QStringLiteral("広島県"), QStringLiteral("山口県")});
        list->setCurrentIndex(-1);
        list->setEditText(QString());
        other = f.Add<QLineEdit>("Other");
        ChoiceOnlyFromList(list);
        f.Show();
    }

    void PickWithTheMouse(int row)
    {
        list->showPopup();
        QAbstractItemView* view = list->view();
        const QRect r = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
        QApplication::processEvents();
    }

    Form f;
    QComboBox* list = nullptr;
    QLineEdit* other = nullptr;
};

TEST_F(ListChoice, ATypedItemIsNoChoiceWhenTheFieldLosesTheFocusOrGetsEnter)
{
    QSignalSpy chosen(list, &QComboBox::activated);
    list->setFocus();
    ubin::test::TypeText(list, QStringLiteral("広島県"));
    QTest::keyClick(list, Qt::Key_Return);
    QTest::keyClick(list, Qt::Key_Tab);
    ASSERT_TRUE(other->hasFocus());
    EXPECT_EQ(chosen.count(), 0);
    EXPECT_EQ(list->currentText(), QStringLiteral("広島県")) << "the typed text stays";
    EXPECT_EQ(list->count(), 3) << "and does not become an item";

    // A text the program sets, then the focus passing through the list.
    list->setEditText(QStringLiteral("山口県"));
    list->setFocus();
    other->setFocus();
    EXPECT_EQ(chosen.count(), 0);
}

TEST_F(ListChoice, APickFromTheDropDownOrWithTheArrowKeysIsAChoice)
{
    QSignalSpy chosen(list, &QComboBox::activated);
    PickWithTheMouse(1);
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toInt(), 1);
    EXPECT_EQ(list->currentText(), QStringLiteral("広島県"));
    // The same item picked again is a choice again.
    PickWithTheMouse(1);
    EXPECT_EQ(chosen.count(), 2);

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    ASSERT_EQ(chosen.count(), 3);
    EXPECT_EQ(list->currentText(), QStringLiteral("山口県"));

    // Opening the list after typing an item's text chooses nothing by itself.
    list->setEditText(QStringLiteral("岡山県"));
    list->showPopup();
    QApplication::processEvents();
    list->hidePopup();
    EXPECT_EQ(chosen.count(), 3);
}

TEST(UserEdits, TheFaceReportsTheUsersEditsOfTextBoxesAndNotItsOwnWrites)
{
    Form f;
    auto* entry = f.Add<QLineEdit>("ITUbin");
    auto* detail = f.Add<QPlainTextEdit>("Text6");
    auto* list = f.Add<QComboBox>("Combo1");
    list->setEditable(true);
    f.Show();
    QtSearchFace face(&f.window);
    std::vector<std::pair<QString, QString>> edits;
    face.SetUserEditObserver([&](const QString& element, const QString& text) { edits.emplace_back(element, text); });

    face.SetText("Text6", u"*** 該当するものが見付からない **");
    face.SetText("ITUbin", u"730");
    EXPECT_TRUE(edits.empty()) << "the logic's own writes are not the user's";
    EXPECT_EQ(detail->toPlainText(), QStringLiteral("*** 該当するものが見付からない **"));

    detail->setFocus();
    detail->selectAll();
    QTest::keyClicks(detail, QStringLiteral("ab"));
    ASSERT_FALSE(edits.empty());
    EXPECT_EQ(edits.back(), std::make_pair(QStringLiteral("Text6"), QStringLiteral("ab")));
    detail->undo();
    EXPECT_EQ(edits.back().second, detail->toPlainText()) << "an undo is the user's edit too";

    edits.clear();
    entry->setFocus();
    QTest::keyClicks(entry, QStringLiteral("1"));
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits.back(), std::make_pair(QStringLiteral("ITUbin"), QStringLiteral("7301")));

    // The edit field of a list is no text box of the form.
    edits.clear();
    list->setFocus();
    QTest::keyClicks(list, QStringLiteral("x"));
    EXPECT_TRUE(edits.empty());
}

} // namespace
} // namespace ubin::widgets
