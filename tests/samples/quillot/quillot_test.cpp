// Quillot's window with UbinBangou1 loaded from the sample's saved form through the class
// registry: lookups typed into Text1, lookups on the control's face, and a failing creation.
#include "samples/quillot/quillot_window.h"
#include "tests/sorelto/sorelto_fixture.h"

#include "qt/widgets/colours.h"
#include "qt/widgets/twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

namespace ubin::test {
namespace {

using quillot::QuillotWindow;

class Quillot : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.WriteSettings();
        auto form = component::ReadSavedForm(QUILLOT_FORM);
        ASSERT_TRUE(form.ok()) << form.message();
        const component::Status s = window.LoadControl(UBIN_SORELTO_REGISTRY, *form);
        ASSERT_TRUE(s.ok()) << s.message();
        QObject::connect(&window, &QuillotWindow::controlFailed, [this](const QString& m) { failures << m; });
    }

    QString Label(const char* name) const { return window.findChild<QLabel*>(QString::fromLatin1(name))->text(); }
    QString Labels() const
    {
        QStringList l;
        for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6"}) l << Label(name);
        return l.join(u'|');
    }
    QLineEdit* Text1() const { return window.findChild<QLineEdit*>(QStringLiteral("Text1")); }
    template <class W>
    W* OnFace(const char* name) const
    {
        return window.control()->face()->findChild<W*>(QString::fromLatin1(name));
    }

    SoreltoHost host;
    QuillotWindow window;
    QStringList failures;
};

const QString k7300014 = QStringLiteral("730|0014|広島市中区|上幟町|ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ|34101");

TEST_F(Quillot, StartsWithTheSavedControlAndItsOwnTexts)
{
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Ubinコントロールのテスト"));
    EXPECT_EQ(window.objectName(), QStringLiteral("frmUbinTest"));
    EXPECT_EQ(Labels(), QStringLiteral("La1|La2|Label3|Label4|Label5|Label6"));
    EXPECT_EQ(Text1()->text(), QStringLiteral("7300014"));
    EXPECT_TRUE(window.findChild<QLabel*>(QStringLiteral("Label9"))->font().bold());
    EXPECT_EQ(window.palette().color(QPalette::Window), widgets::ToQColor(0x00FFC0C0));

    component::HostedControl* c = window.control();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->objectName(), QStringLiteral("UbinBangou1"));
    EXPECT_EQ(widgets::GeometryInTwips(c), QRect(120, 2040, 6180, 5070));
    EXPECT_EQ(c->extent(), (component::Extent{10901, 8943}));
    // The saved colour on all five mode buttons; the results start empty.
    for (const char* name : {"Option1", "Option2", "Option3", "Option4", "Option5"})
        EXPECT_EQ(OnFace<QWidget>(name)->palette().color(QPalette::Window), widgets::ToQColor(0x00C0FFC0)) << name;
    EXPECT_EQ(Results(*c), QStringLiteral("|||||"));
    EXPECT_EQ(c->Get(control::kBackColor)->colour(), 0x8000000Au);
}

TEST_F(Quillot, TheSavedFormIsAsTheLayerWritesIt)
{
    auto form = component::ReadSavedForm(QUILLOT_FORM);
    ASSERT_TRUE(form.ok());
    EXPECT_EQ(component::SerializeSavedForm(*form), ReadBytes(QUILLOT_FORM));
    // The build puts it beside the program.
    EXPECT_EQ(ReadBytes(std::filesystem::path(QUILLOT_EXE_DIR) / quillot::kFormFileName), ReadBytes(QUILLOT_FORM));
    EXPECT_EQ(quillot::FindFormFile(QUILLOT_EXE_DIR), std::filesystem::path(QUILLOT_EXE_DIR) / quillot::kFormFileName);
}

TEST_F(Quillot, EnterInText1FillsTheLabelsAndPassesTheKeyOn)
{
    int refreshesInside = 0;
    window.control()->Connect([&](component::MemberId, auto) { refreshesInside += Label("Label1") == "730"; });
    QSignalSpy returnPressed(Text1(), &QLineEdit::returnPressed);
    QTest::keyClick(Text1(), Qt::Key_Return);
    EXPECT_EQ(Labels(), k7300014);
    EXPECT_EQ(Results(*window.control()), k7300014);
    EXPECT_EQ(returnPressed.count(), 1);
    EXPECT_EQ(refreshesInside, 1); // Quillot's own handler ran first, inside the lookup
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(Quillot, EnterOnTheFocusedButtonLooksUp)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* button = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(Labels(), k7300014);
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(Quillot, ThreeDigitsShowTheLowestRecordBeginningWithThem)
{
    Text1()->setText(QStringLiteral("730"));
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    EXPECT_EQ(Label("Label1") + Label("Label2"), QStringLiteral("7300000"));
    Text1()->setText(QStringLiteral("012"));
    QTest::mouseDClick(Text1(), Qt::LeftButton);
    EXPECT_EQ(Label("Label1") + Label("Label2"), QStringLiteral("0120832"));
}

TEST_F(Quillot, ACodeNotInTheDirectoryEmptiesTheLabels)
{
    QTest::keyClick(Text1(), Qt::Key_Return);
    ASSERT_EQ(Labels(), k7300014);
    Text1()->setText(QStringLiteral("0000001"));
    QTest::keyClick(Text1(), Qt::Key_Return);
    EXPECT_EQ(Labels(), QStringLiteral("|||||"));
}

TEST_F(Quillot, LookupsOnTheControlsFaceReachTheLabels)
{
    // A town name search on the face.
    QTest::mouseClick(OnFace<QRadioButton>("Option4"), Qt::LeftButton);
    auto* box = OnFace<QLineEdit>("ITUbin");
    box->setText(QStringLiteral("上幟町"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(Labels(), k7300014);

    // A city code: the labels take the emptied IT1, IT2 and IT4.
    QTest::mouseClick(OnFace<QRadioButton>("Option2"), Qt::LeftButton);
    box->setText(QStringLiteral("34101"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(Label("Label6"), QStringLiteral("34101"));
    EXPECT_EQ(Label("Label1") + Label("Label2") + Label("Label4"), QString());
    EXPECT_FALSE(Label("Label3").isEmpty());
}

TEST(QuillotStart, AControlThatCannotBeCreatedIsReported)
{
    SoreltoHost host; // no settings file anywhere
    auto form = component::ReadSavedForm(QUILLOT_FORM);
    ASSERT_TRUE(form.ok());
    QuillotWindow window;
    const component::Status s = window.LoadControl(UBIN_SORELTO_REGISTRY, *form);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find("ubscon.def"), std::string::npos) << s.message();
    EXPECT_EQ(window.control(), nullptr);
    const QString message = quillot::CreationFailedMessage(s, UBIN_SORELTO_REGISTRY, "/opt/lib/marubeta/libsorelto.so");
    EXPECT_TRUE(message.startsWith(QStringLiteral("Marubeta.UbinBangou コントロールを作成できません。"))) << message.toStdString();
    // The places the control looked in, each with what was wrong, and how to make the file.
    const QString place = QString::fromStdString((host.CurrentFolder() / "ubscon.def").string());
    EXPECT_TRUE(message.contains(QStringLiteral("・") + place + QStringLiteral("\n　→ ファイルがありません")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("ubin-build KEN_ALL.CSV 辞書のフォルダ --settings"))) << message.toStdString();
}

TEST(QuillotStart, AControlThatIsNotRegisteredIsToldHowToRegister)
{
    SoreltoHost host;
    host.WriteSettings();
    TempDir empty;
    const std::filesystem::path registry = empty / "classes.json";
    auto form = component::ReadSavedForm(QUILLOT_FORM);
    ASSERT_TRUE(form.ok());
    QuillotWindow window;
    const component::Status s = window.LoadControl(registry, *form);
    ASSERT_EQ(s.code(), component::kErrorNotRegistered) << s.message();

    // The library the user registers: the installed one where there is one, else the built one.
    const std::filesystem::path library = quillot::ControlLibraryPath(QUILLOT_EXE_DIR);
    EXPECT_TRUE(std::filesystem::exists(library)) << library;
    const QString message = quillot::CreationFailedMessage(s, registry, library);
    EXPECT_TRUE(message.startsWith(QStringLiteral("Marubeta.UbinBangou コントロールが登録されていません。"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromStdString(registry.string()))) << message.toStdString();
    EXPECT_TRUE(message.endsWith(QStringLiteral("ubin-regsvr ") + QString::fromStdString(library.string()))) << message.toStdString();

    // Installed: <prefix>/bin/quillot finds <prefix>/<libdir>/marubeta/ beside it.
    TempDir prefix;
    const std::filesystem::path installed = prefix / UBIN_INSTALL_LIBDIR / "marubeta" / UBIN_SORELTO_FILE_NAME;
    std::filesystem::create_directories(installed.parent_path());
    WriteBytes(installed, "");
    EXPECT_EQ(quillot::ControlLibraryPath(prefix / "bin"), installed);
}

} // namespace
} // namespace ubin::test
