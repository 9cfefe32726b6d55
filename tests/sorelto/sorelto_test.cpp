// The UbinBangou control loaded from the built sorelto through the class registry, as a host
// loads it: its registration, members by id, ClickDisp, the automatic copy, saved properties,
// the version dialog and the state shared by the controls of one thread.
#include "tests/sorelto/sorelto_fixture.h"
#include "tests/support/type_text.h"

#include "base/cp932.h"
#include "directory/edition.h"
#include "qt/component/library.h"
#include "qt/component/registry.h"
#include "qt/component/saved_form.h"
#include "qt/widgets/colours.h"
#include "qt/widgets/twips.h"
#include "settings/settings.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace ubin::test {
namespace {

using component::InvokeKind;
using component::Value;
namespace ids = ubin::control;

constexpr char16_t kNotFound[] = u"*** 該当するものが見付からない **";
const QString k7300014 = QStringLiteral("730|0014|広島市中区|上幟町|ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ|34101");

class Sorelto : public ::testing::Test {
protected:
    void SetUp() override { host.WriteSettings(); }

    // A new control whose ClickDisp events are counted.
    std::unique_ptr<component::HostedControl> Create(const component::SavedControl* saved = nullptr)
    {
        auto c = host.Create(saved);
        if (c) c->Connect([this](component::MemberId id, auto) { if (id == ids::kClickDisp) ++clicks; });
        return c;
    }

    template <class W>
    static W* Element(component::HostedControl& c, const char* name)
    {
        return c.face()->findChild<W*>(QString::fromLatin1(name));
    }

    static void EnterOnFace(component::HostedControl& c, const QString& text)
    {
        auto* box = Element<QLineEdit>(c, "ITUbin");
        box->setText(text);
        QTest::keyClick(box, Qt::Key_Return);
    }

    SoreltoHost host;
    int clicks = 0;
};

// --- the class as registered ------------------------------------------------------------------

TEST_F(Sorelto, RegistersItsClassWithEveryMember)
{
    const auto registry = component::ClassRegistry::Load(UBIN_SORELTO_REGISTRY);
    ASSERT_TRUE(registry.ok()) << registry.message();
    const component::RegisteredClass* c = registry->FindByProgramId("marubeta.ubinbangou");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->info.className, "UbinBangou");
    EXPECT_EQ(c->info.typeLibraryName, "Marubeta");
    EXPECT_EQ(c->info.typeLibraryDescription, "Marubeta");
    EXPECT_EQ(c->info.defaultInterface.name, "_UbinBangou");
    EXPECT_EQ(c->info.eventInterface.name, "__UbinBangou");
    EXPECT_TRUE(component::SameId(c->info.classId, ids::kClassId));
    EXPECT_EQ(c->libraryPath, std::filesystem::canonical(UBIN_SORELTO).string());

    const int m = static_cast<int>(InvokeKind::Method), g = static_cast<int>(InvokeKind::PropertyGet),
              gl = g | static_cast<int>(InvokeKind::PropertyLet);
    const std::string caption =
        "ｵﾌﾞｼﾞｪｸﾄのﾀｲﾄﾙ ﾊﾞｰ、またはｵﾌﾞｼﾞｪｸﾄのｱｲｺﾝの下に表示される文字を設定します。値の取得も可能です。";
    using component::ValueType;
    const struct {
        const char* name;
        std::int32_t id;
        int kinds;
        ValueType type;
        std::string description;
    } expected[] = {
        {"SconLoad", 0x6003000B, m, ValueType::Empty, ""},
        {"SconSave", 0x6003000C, m, ValueType::Empty, ""},
        {"Ubin_get_ocx", 0x6003002D, m, ValueType::Empty, ""},
        {"BackColor", 0x6803000A, gl, ValueType::Colour,
         "ｵﾌﾞｼﾞｪｸﾄ内の文字やｸﾞﾗﾌｨｯｸの表示で使用する背景色を設定します。値の取得も可能です。"},
        {"OptionBackColor", 0x68030009, gl, ValueType::Colour, ""},
        {"ForeColor", 0x68030008, gl, ValueType::Colour,
         "ｵﾌﾞｼﾞｪｸﾄ内の文字やｸﾞﾗﾌｨｯｸの表示で使用する前景色を設定します。値の取得も可能です。"},
        {"Ubin1", 0x68030007, gl, ValueType::Text, caption},
        {"Ubin2", 0x68030006, gl, ValueType::Text, ""},
        {"Ubin3", 0x68030005, g, ValueType::Text, ""},
        {"Ubin4", 0x68030004, g, ValueType::Text, ""},
        {"Ubin5", 0x68030003, gl, ValueType::Text, caption},
        {"Ubin6", 0x68030002, gl, ValueType::Text, caption},
        {"clear", 0x60030033, m, ValueType::Empty, "ｺﾝﾄﾛｰﾙまたはｼｽﾃﾑ ｸﾘｯﾌﾟﾎﾞｰﾄﾞの内容をｸﾘｱします。"},
        {"ShowVerDlg", -552, m, ValueType::Empty, ""},
        {"SWidth", 0x68030001, gl, ValueType::Single, ""},
        {"SHeight", 0x68030000, gl, ValueType::Single, ""},
    };
    const auto& members = c->info.members;
    ASSERT_EQ(members.size(), std::size(expected));
    for (std::size_t i = 0; i < members.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(members[i].name, expected[i].name);
        EXPECT_EQ(members[i].id, expected[i].id);
        EXPECT_EQ(members[i].kinds, expected[i].kinds);
        EXPECT_EQ(members[i].type, expected[i].type);
        EXPECT_EQ(members[i].description, expected[i].description);
    }
    const auto& arg = c->info.FindMember("Ubin_get_ocx")->arguments;
    ASSERT_EQ(arg.size(), 1u);
    EXPECT_EQ(arg[0].name, "ubinReq");
    EXPECT_EQ(arg[0].type, ValueType::Text);
    EXPECT_TRUE(arg[0].byReference);
    ASSERT_EQ(c->info.events.size(), 1u);
    EXPECT_EQ(c->info.events[0].name, "ClickDisp");
    EXPECT_EQ(c->info.events[0].id, 1);
    EXPECT_TRUE(c->info.events[0].arguments.empty());
}

TEST_F(Sorelto, RegisterThenUnregisterLeavesTheRegistryAsItWas)
{
    auto lib = component::ControlLibrary::Load(UBIN_SORELTO);
    ASSERT_TRUE(lib.ok()) << lib.message();
    const std::filesystem::path registry = host.folders / "reg/classes.json";

    ASSERT_TRUE((*lib)->RegisterServer(registry).ok());
    ASSERT_TRUE((*lib)->UnregisterServer(registry).ok());
    EXPECT_FALSE(std::filesystem::exists(registry));

    // With a class of another library already there, the file comes back byte for byte.
    component::ClassRegistry other;
    auto built = component::ClassRegistry::Load(UBIN_SORELTO_REGISTRY);
    ASSERT_TRUE(built.ok());
    component::RegisteredClass foreign = built->classes().at(0);
    foreign.info.classId = "{00000000-1111-2222-3333-444444444444}";
    foreign.info.programId = "Other.Control";
    foreign.libraryPath = "/opt/other/libother.so";
    ASSERT_TRUE(other.Add(foreign).ok());
    ASSERT_TRUE(other.Save(registry).ok());
    const std::string before = ReadBytes(registry);
    ASSERT_TRUE((*lib)->RegisterServer(registry).ok());
    EXPECT_NE(ReadBytes(registry), before);
    ASSERT_TRUE((*lib)->UnregisterServer(registry).ok());
    EXPECT_EQ(ReadBytes(registry), before);
}

// --- creation ---------------------------------------------------------------------------------

TEST_F(Sorelto, ANewInstanceShowsItsDesign)
{
    auto c = Create();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->extent(), (component::Extent{10901, 8943}));
    EXPECT_EQ(Element<QLabel>(*c, "Label1")->text(), QStringLiteral("郵便番号 "));
    EXPECT_EQ(Element<QLabel>(*c, "Label5")->text(), QStringLiteral("730-0014"));
    EXPECT_TRUE(Element<QRadioButton>(*c, "Option1")->isChecked());
    EXPECT_TRUE(Element<QLineEdit>(*c, "ITUbin")->text().isEmpty());
    EXPECT_TRUE(Element<QLineEdit>(*c, "ITUbin")->isEnabled());
    EXPECT_FALSE(Element<QPushButton>(*c, "Command7")->isEnabled());
    EXPECT_EQ(Results(*c), QStringLiteral("|||||"));
    EXPECT_EQ(c->Get(ids::kBackColor)->colour(), 0x8000000Au);
    EXPECT_EQ(c->Get(ids::kOptionBackColor)->colour(), 0x00C0FFC0u);
    const char* options[] = {"Option1", "Option2", "Option3", "Option4", "Option5"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Element<QWidget>(*c, options[i])->palette().color(QPalette::Window),
                  widgets::ToQColor(ids::kDesignOptionColours[i]))
            << options[i];
    // Headings are labels and the group borders drawn lines: no frames.
    EXPECT_EQ(Element<QLabel>(*c, "Label3_2")->text(), QStringLiteral("選択検索項目"));
    EXPECT_EQ(Element<QLabel>(*c, "Label2_3")->text(), QStringLiteral("地域詳細"));
    EXPECT_EQ(c->face()->findChildren<QFrame*>(QRegularExpression("^Frame")).size(), 0);
}

TEST_F(Sorelto, CreationFailsNamingTheMissingFile)
{
    std::filesystem::remove(host.CurrentFolder() / "ubscon.def");
    auto noSettings = host.TryCreate();
    ASSERT_FALSE(noSettings.ok());
    EXPECT_NE(noSettings.message().find("ubscon.def"), std::string::npos) << noSettings.message();
    EXPECT_NE(noSettings.message().find(host.ConfigFolder().string()), std::string::npos) << noSettings.message();

    // The index files are opened first.
    TempDir empty;
    host.WriteSettings(kNoAutoClip, (empty / "").string());
    auto noDirectory = host.TryCreate();
    ASSERT_FALSE(noDirectory.ok());
    EXPECT_NE(noDirectory.message().find("UIND1.IDX"), std::string::npos) << noDirectory.message();
}

TEST_F(Sorelto, CanUnloadNowOnlyWithoutInstances)
{
    auto lib = component::ControlLibrary::Load(UBIN_SORELTO);
    ASSERT_TRUE(lib.ok());
    EXPECT_TRUE((*lib)->CanUnloadNow());
    auto a = Create();
    auto b = Create();
    EXPECT_FALSE((*lib)->CanUnloadNow());
    a.reset();
    EXPECT_FALSE((*lib)->CanUnloadNow());
    b.reset();
    EXPECT_TRUE((*lib)->CanUnloadNow());
}

// --- lookups ----------------------------------------------------------------------------------

TEST_F(Sorelto, UbinGetOcxShowsThePostalEntryAndRaisesClickDispOnce)
{
    auto c = Create();
    std::vector<Value> args{Value(u"730-0014")};
    auto r = c->Invoke(ids::kUbinGetOcx, InvokeKind::Method, args);
    ASSERT_TRUE(r.ok()) << r.message();
    EXPECT_EQ(args[0].text(), u"730-0014"); // passed by reference, left as it was
    EXPECT_EQ(Results(*c), k7300014);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(Element<QLineEdit>(*c, "ITUbin")->text().isEmpty()); // the entry box is not touched
    EXPECT_FALSE(Element<QPushButton>(*c, "Command8")->isEnabled());
}

TEST_F(Sorelto, UbinGetOcxSearchesThePrefixAsGiven)
{
    auto c = Create();
    // Three digits are a prefix, not 012-0000 (which the sample does not hold).
    ASSERT_TRUE(Lookup(*c, u"012").ok());
    EXPECT_EQ(Text(*c, ids::kUbin1) + Text(*c, ids::kUbin2), QStringLiteral("0120832"));
    ASSERT_TRUE(Lookup(*c, u"730").ok());
    EXPECT_EQ(Text(*c, ids::kUbin1) + Text(*c, ids::kUbin2), QStringLiteral("7300000"));
    // No digits at all: index record 1, the lowest code of the sample.
    ASSERT_TRUE(Lookup(*c, u"〒abc").ok());
    EXPECT_EQ(Text(*c, ids::kUbin1) + Text(*c, ids::kUbin2), QStringLiteral("0100043"));
    EXPECT_EQ(clicks, 3);
}

TEST_F(Sorelto, NotFoundAndOverlongCodesRaiseNothing)
{
    auto c = Create();
    QApplication::clipboard()->setText(QStringLiteral("untouched"));
    ASSERT_TRUE(Lookup(*c, u"7300014").ok());
    ASSERT_EQ(clicks, 1);

    // A town reading longer than an index key: the key search meets a record, the walk
    // accepts none, and the result stays.
    QTest::mouseClick(Element<QRadioButton>(*c, "Option3"), Qt::LeftButton);
    EnterOnFace(*c, QStringLiteral("ｷﾞﾝｻﾞ"));
    ASSERT_EQ(clicks, 2);
    const QString shown = Results(*c);
    EnterOnFace(*c, QStringLiteral("ｶﾐﾉﾎﾞﾘﾁｮｳ"));
    EXPECT_EQ(Results(*c), shown);
    EXPECT_EQ(clicks, 2);

    ASSERT_TRUE(Lookup(*c, u"0000001").ok());
    EXPECT_EQ(Results(*c), QStringLiteral("|||||"));
    EXPECT_EQ(Element<QPlainTextEdit>(*c, "Text6")->toPlainText(), QString::fromUtf16(kNotFound));
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("untouched"));
}

TEST_F(Sorelto, ClickDispFollowsEveryDisplayedResultAndNothingElse)
{
    auto c = Create();
    EnterOnFace(*c, QStringLiteral("7300014"));
    EXPECT_EQ(Results(*c), k7300014);
    EXPECT_EQ(clicks, 1);
    QTest::mouseClick(Element<QPushButton>(*c, "Command8"), Qt::LeftButton);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(Text(*c, ids::kUbin2), QStringLiteral("0015")); // the next index record

    // Nothing that shows no result raises it.
    ASSERT_TRUE(c->Call(ids::kClear).ok());
    EXPECT_EQ(Results(*c), QStringLiteral("|||||"));
    ASSERT_TRUE(c->Let(ids::kUbin1, Value(u"x")).ok());
    ASSERT_TRUE(c->Let(ids::kBackColor, Value::Colour(0xFF)).ok());
    ASSERT_TRUE(c->Let(ids::kOptionBackColor, Value::Colour(0xFF)).ok());
    ASSERT_TRUE(c->Let(ids::kSWidth, Value(3000.0f)).ok());
    QTest::mouseClick(Element<QRadioButton>(*c, "Option2"), Qt::LeftButton);
    EXPECT_EQ(clicks, 2);

    // A city code: IT1, IT2 and IT4 stay as the mode switch left them.
    EnterOnFace(*c, QStringLiteral("34101"));
    EXPECT_EQ(clicks, 3);
    EXPECT_EQ(Text(*c, ids::kUbin6), QStringLiteral("34101"));
    EXPECT_EQ(Text(*c, ids::kUbin1) + Text(*c, ids::kUbin2) + Text(*c, ids::kUbin4), QString());
    EXPECT_FALSE(Text(*c, ids::kUbin3).isEmpty());
}

TEST_F(Sorelto, UbinGetOcxInTheAreaModeSwitchesBackToPostal)
{
    auto c = Create();
    QTest::mouseClick(Element<QRadioButton>(*c, "Option5"), Qt::LeftButton);
    ASSERT_FALSE(Element<QLineEdit>(*c, "ITUbin")->isEnabled());
    // The host's window is not shown: the focus move of the layout is left out quietly.
    ASSERT_TRUE(Lookup(*c, u"7300014").ok());
    EXPECT_TRUE(Element<QRadioButton>(*c, "Option1")->isChecked());
    EXPECT_EQ(Element<QLabel>(*c, "Label1")->text(), QStringLiteral("郵便番号"));
    EXPECT_EQ(Element<QLabel>(*c, "Label5")->text(), QStringLiteral("730-0014 / 730"));
    EXPECT_TRUE(Element<QLineEdit>(*c, "ITUbin")->isEnabled());
    EXPECT_FALSE(Element<QLineEdit>(*c, "ITUbin")->hasFocus());
    EXPECT_EQ(Results(*c), k7300014);
    EXPECT_EQ(clicks, 1);
}

TEST_F(Sorelto, AutoClipCopiesAfterTheHandlerAndNestedLookupsRunToTheirEnd)
{
    host.WriteSettings(kAutoClip);
    auto c = Create();
    std::vector<QString> seen;
    c->Connect([&](component::MemberId, auto) {
        seen.push_back(Text(*c, ids::kUbin1) + Text(*c, ids::kUbin2));
        if (seen.size() == 1) {
            // The handler changes the result: the copy that follows holds the change.
            ASSERT_TRUE(c->Let(ids::kUbin1, Value(u"999")).ok());
        }
    });
    ASSERT_TRUE(Lookup(*c, u"7300014").ok());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], QStringLiteral("7300014"));
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith(QStringLiteral("999-0014,"))) << QApplication::clipboard()->text().toStdString();

    // A handler that looks up again: the nested lookup with its own event and copy ends
    // before the outer display step goes on.
    auto d = Create();
    std::vector<QString> order;
    d->Connect([&](component::MemberId, auto) {
        order.push_back(Text(*d, ids::kUbin1) + Text(*d, ids::kUbin2));
        if (order.size() == 1) {
            ASSERT_TRUE(Lookup(*d, u"7300016").ok());
            order.push_back(QApplication::clipboard()->text().left(8));
        }
    });
    ASSERT_TRUE(Lookup(*d, u"7300014").ok());
    EXPECT_EQ(order, (std::vector<QString>{QStringLiteral("7300014"), QStringLiteral("7300016"), QStringLiteral("730-0016")}));
    EXPECT_EQ(Text(*d, ids::kUbin2), QStringLiteral("0016"));
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith(QStringLiteral("730-0016,")));
}

// --- properties -------------------------------------------------------------------------------

TEST_F(Sorelto, PropertyLetsNotifyExceptOptionBackColor)
{
    auto c = Create();
    QSignalSpy notices(c.get(), &component::HostedControl::propertyChanged);
    ASSERT_TRUE(c->Let(ids::kOptionBackColor, Value::Colour(0x00123456)).ok());
    EXPECT_EQ(notices.count(), 0);
    EXPECT_EQ(c->Get(ids::kOptionBackColor)->colour(), 0x00123456u);
    for (const char* name : {"Option1", "Option2", "Option3", "Option4", "Option5"})
        EXPECT_EQ(Element<QWidget>(*c, name)->palette().color(QPalette::Window), widgets::ToQColor(0x00123456)) << name;

    const struct {
        std::int32_t id;
        Value value;
        const char* notice;
    } lets[] = {{ids::kBackColor, Value::Colour(0x00FF0000), "BackColor"},
                {ids::kForeColor, Value::Colour(0x000000FF), "ForeColor"},
                {ids::kUbin1, Value(u"a"), "Ubin1"}, {ids::kUbin2, Value(u"b"), "Ubin2"},
                {ids::kUbin5, Value(u"e"), "Ubin5"}, {ids::kUbin6, Value(u"f"), "Ubin6"},
                {ids::kSWidth, Value(3000.0f), "SWidth"}, {ids::kSHeight, Value(2000.0f), "SHeight"}};
    for (const auto& let : lets) {
        ASSERT_TRUE(c->Let(let.id, let.value).ok()) << let.notice;
        ASSERT_FALSE(notices.isEmpty());
        EXPECT_EQ(notices.takeLast().at(0).toString(), QString::fromLatin1(let.notice));
    }
    EXPECT_EQ(c->face()->palette().color(QPalette::Window), QColor(0, 0, 255));
    EXPECT_EQ(c->Get(ids::kForeColor)->colour(), 0x000000FFu);
    EXPECT_EQ(Results(*c), QStringLiteral("a|b|||e|f"));
    EXPECT_EQ(c->Let(ids::kUbin3, Value(u"c")).code(), component::kErrorNotSupported);
    EXPECT_EQ(c->Let(ids::kUbin4, Value(u"d")).code(), component::kErrorNotSupported);
}

TEST_F(Sorelto, SizePropertiesMoveIntoTheRealSizeOnlyWhenRead)
{
    auto c = Create();
    const QSize before = c->size();
    EXPECT_EQ(c->Get(ids::kSWidth)->single(), 6180.0f);
    EXPECT_EQ(c->Get(ids::kSHeight)->single(), 5070.0f);

    ASSERT_TRUE(c->Let(ids::kSWidth, Value(3000.0f)).ok());
    ASSERT_TRUE(c->Let(ids::kSHeight, Value(1500.0f)).ok());
    EXPECT_EQ(c->size(), before);

    EXPECT_EQ(c->Get(ids::kSWidth)->single(), 3000.0f);
    EXPECT_EQ(c->extent().width, component::TwipsToHimetric(3000));
    EXPECT_EQ(c->extent().height, 8943);
    EXPECT_EQ(c->face()->width(), widgets::TwipsToPixels(3000, widgets::LogicalDpi(c.get()).x));
    EXPECT_EQ(c->Get(ids::kSHeight)->single(), 1500.0f);
    EXPECT_EQ(c->extent().height, component::TwipsToHimetric(1500));
}

TEST_F(Sorelto, SavedPropertiesRoundTrip)
{
    auto c = Create();
    auto saved = c->Save("UbinBangou1");
    ASSERT_TRUE(saved.ok()) << saved.message();
    std::vector<std::u16string> keys;
    for (const auto& e : saved->properties.entries()) keys.push_back(e.key);
    // ForeColor 0 and SWidth 6180 equal their defaults; the empty results differ from "IT1"...
    EXPECT_EQ(keys, (std::vector<std::u16string>{u"BackColor", u"OptionBackColor", u"Ubin1", u"Ubin2", u"Ubin3",
                                                 u"Ubin4", u"Ubin5", u"Ubin6", u"Sheight"}));
    EXPECT_EQ(*saved->properties.Find(u"Sheight"), Value(5070.0f));
    EXPECT_EQ(*saved->properties.Find(u"Ubin3"), Value(u""));
    EXPECT_EQ(*saved->properties.Find(u"BackColor"), Value::Colour(0x8000000A));

    // After a lookup and some lets, a loaded copy saves the same bag again.
    ASSERT_TRUE(Lookup(*c, u"7300014").ok());
    ASSERT_TRUE(c->Let(ids::kForeColor, Value::Colour(0x00ABCDEF)).ok());
    ASSERT_TRUE(c->Let(ids::kSWidth, Value(4000.5f)).ok());
    ASSERT_TRUE(c->Let(ids::kOptionBackColor, Value::Colour(0x00FFC0C0)).ok());
    auto first = c->Save("UbinBangou1");
    ASSERT_TRUE(first.ok());
    auto copy = Create(&*first);
    ASSERT_TRUE(copy);
    EXPECT_EQ(Results(*copy), k7300014);
    auto second = copy->Save("UbinBangou1");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->properties, first->properties);
    EXPECT_EQ(second->extent, first->extent);
    for (const char* name : {"Option1", "Option2", "Option3", "Option4", "Option5"})
        EXPECT_EQ(Element<QWidget>(*copy, name)->palette().color(QPalette::Window), widgets::ToQColor(0x00FFC0C0)) << name;
}

TEST_F(Sorelto, MissingKeysTakeTheirDefaults)
{
    component::SavedControl saved;
    saved.name = "UbinBangou1";
    saved.extent = {10901, 8943};
    ASSERT_TRUE(saved.properties.Set(u"ubin2", Value(u"0014")).ok()); // keys ignore case
    auto c = Create(&saved);
    ASSERT_TRUE(c);
    EXPECT_EQ(Results(*c), QStringLiteral("IT1|0014|IT3|IT4|IT5|IT6"));
    EXPECT_EQ(Element<QLabel>(*c, "IT1")->text(), QStringLiteral("IT1"));
    EXPECT_EQ(c->Get(ids::kBackColor)->colour(), 0x80000013u);
    EXPECT_EQ(c->Get(ids::kOptionBackColor)->colour(), 0x80000013u);
    EXPECT_EQ(c->Get(ids::kForeColor)->colour(), 0u);
    EXPECT_EQ(c->Get(ids::kSHeight)->single(), 1000.0f);
    EXPECT_EQ(c->Get(ids::kSWidth)->single(), 6180.0f);

    // A value of the wrong kind fails the load with the key's name.
    ASSERT_TRUE(saved.properties.Set(u"SWidth", Value(u"wide")).ok());
    auto bad = host.TryCreate(&saved);
    ASSERT_FALSE(bad.ok());
    EXPECT_NE(bad.message().find("SWidth"), std::string::npos) << bad.message();
}

// --- methods ----------------------------------------------------------------------------------

TEST_F(Sorelto, ClearEmptiesTheSearchButKeepsModeAndClipboard)
{
    host.WriteSettings(kAutoClip);
    auto c = Create();
    QTest::mouseClick(Element<QRadioButton>(*c, "Option3"), Qt::LeftButton);
    Element<QLineEdit>(*c, "ITUbin")->setText(QStringLiteral("ｶﾐﾉﾎﾞﾘ"));
    QTest::keyClick(Element<QLineEdit>(*c, "ITUbin"), Qt::Key_Return);
    ASSERT_EQ(clicks, 1);
    QApplication::clipboard()->setText(QStringLiteral("kept"));
    ASSERT_TRUE(c->Call(ids::kClear).ok());
    EXPECT_EQ(Results(*c), QStringLiteral("|||||"));
    EXPECT_TRUE(Element<QLineEdit>(*c, "ITUbin")->text().isEmpty());
    EXPECT_FALSE(Element<QPushButton>(*c, "Command8")->isEnabled());
    EXPECT_TRUE(Element<QRadioButton>(*c, "Option3")->isChecked());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("kept"));
    EXPECT_EQ(clicks, 1);
}

// --- the keys and lists of the face, shared with the search window -----------------------------

class SoreltoOnScreen : public Sorelto {
protected:
    // A control on the host's window, shown and active, so that the focus moves as a user's.
    std::unique_ptr<component::HostedControl> Show()
    {
        auto c = Create();
        host.window.resize(700, 500);
        host.window.show();
        host.window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&host.window));
        return c;
    }
};

TEST_F(SoreltoOnScreen, PageKeysEnterOnButtonsAndEscapeOnTheFace)
{
    auto c = Show();
    auto* entry = Element<QLineEdit>(*c, "ITUbin");
    auto* next = Element<QPushButton>(*c, "Command8");
    entry->setFocus();
    EnterOnFace(*c, QStringLiteral("7300014"));
    QTest::keyClick(entry, Qt::Key_PageDown);
    EXPECT_EQ(Text(*c, ids::kUbin2), QStringLiteral("0015"));
    QTest::keyClick(entry, Qt::Key_PageUp);
    EXPECT_EQ(Text(*c, ids::kUbin2), QStringLiteral("0014"));
    EXPECT_EQ(clicks, 3) << "each page raises ClickDisp";

    // A mouse click leaves the focus in the entry box; Enter on the focused button pages.
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_TRUE(entry->hasFocus());
    next->setFocus();
    QTest::keyClick(next, Qt::Key_Return);
    EXPECT_EQ(Text(*c, ids::kUbin2), QStringLiteral("0016"));
    EXPECT_TRUE(next->hasFocus());

    entry->setFocus();
    QTest::keyClick(entry, Qt::Key_Escape);
    EXPECT_EQ(entry->text(), QString());
    EXPECT_EQ(Text(*c, ids::kUbin2), QStringLiteral("0016")) << "Escape empties only the entry box";
}

TEST_F(SoreltoOnScreen, AreaListsOnTheFaceChooseOnlyWhatTheUserPicks)
{
    auto c = Show();
    QTest::mouseClick(Element<QRadioButton>(*c, "Option5"), Qt::LeftButton);
    auto* c1 = Element<QComboBox>(*c, "Combo1");
    auto* c2 = Element<QComboBox>(*c, "Combo2");
    c1->setFocus();
    c1->lineEdit()->selectAll(); // over the heading 都道府県
    TypeText(c1, QStringLiteral("広島県"));
    ASSERT_EQ(c1->currentText(), QStringLiteral("広島県"));
    QTest::keyClick(c1, Qt::Key_Return);
    EXPECT_TRUE(c2->hasFocus()) << "Enter moves on";
    QTest::keyClick(c2, Qt::Key_Tab);
    EXPECT_EQ(c2->count(), 0) << "the typed prefecture chose nothing";
    EXPECT_EQ(clicks, 0);

    // The arrow keys on the closed list pick.
    c1->setFocus();
    QTest::keyClick(c1, Qt::Key_Down);
    EXPECT_GT(c2->count(), 0);
    EXPECT_EQ(c2->currentText(), c1->currentText());
}

TEST_F(Sorelto, ShowVerDlgIsModalUntilOk)
{
    auto c = Create();
    QStringList seen;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        seen << dialog->windowTitle();
        for (const char* name : {"Label1", "Label2", "LabelEdition"})
            seen << dialog->findChild<QLabel*>(QString::fromLatin1(name))->text();
        seen << QString::number(!dialog->findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().isNull());
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("CmdOK")), Qt::LeftButton);
    });
    std::vector<Value> none;
    ASSERT_TRUE(c->Invoke(ids::kShowVerDlg, InvokeKind::Method, none).ok());
    // The sample directory is built without --edition: the month of its input files, guessed.
    const DirectoryEdition edition = FolderEdition(FromUtf8(UBIN_SAMPLE_DIR));
    ASSERT_TRUE(edition.month);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("UbinBangou Control"), QStringLiteral("Marubeta Control"),
                                 QStringLiteral("Ver.2.0"),
                                 QStringLiteral("データ版 ") + QString::fromStdString(FormatYearMonth(*edition.month))
                                     + QStringLiteral("（推定）"),
                                 QStringLiteral("1")}));
    // Released after it closed: the next call starts afresh.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_NE(w->objectName(), QStringLiteral("Ver"));
}

TEST_F(Sorelto, SettingsAreSavedAsLoadedAndReloadedOnRequest)
{
    auto c = Create();
    EnterOnFace(*c, QStringLiteral("7300014")); // a lookup from the entry box keeps the position
    ASSERT_TRUE(c->Call(ids::kSconSave).ok());
    const Settings saved = ReadSettingsFile(host.ConfigFolder() / "ubscon.def");
    const Settings loaded = ReadSettingsFile(host.CurrentFolder() / "ubscon.def");
    EXPECT_EQ(saved.reserved1, loaded.reserved1);
    EXPECT_EQ(saved.reserved2, loaded.reserved2);
    EXPECT_EQ(saved.reserved3, 7);
    EXPECT_EQ(saved.windowLeft, 1200);
    EXPECT_EQ(saved.windowTop, 900);
    EXPECT_EQ(saved.dataFolder, loaded.dataFolder);
    EXPECT_EQ(saved.clipFlags, loaded.clipFlags);

    // The control's own place comes first: SconLoad takes AutoClip from there.
    WriteBytes(host.ConfigFolder() / "ubscon.def", SoreltoHost::SettingsLine(UBIN_SAMPLE_DIR, kAutoClip));
    QApplication::clipboard()->setText(QStringLiteral("before"));
    ASSERT_TRUE(c->Call(ids::kSconLoad).ok());
    ASSERT_TRUE(Lookup(*c, u"7300016").ok());
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith(QStringLiteral("730-0016")));
}

TEST_F(Sorelto, InstancesOfAThreadShareTheDirectoryStateOfTheLastOne)
{
    auto a = Create();
    QApplication::clipboard()->setText(QStringLiteral("before"));
    ASSERT_TRUE(Lookup(*a, u"7300014").ok());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));

    host.WriteSettings(kAutoClip);
    auto b = Create();
    ASSERT_TRUE(Lookup(*a, u"7300016").ok());
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith(QStringLiteral("730-0016")));
    ASSERT_TRUE(Lookup(*b, u"7300014").ok());
    EXPECT_EQ(Results(*b), k7300014);

    // The directory stays open for the thread after the instance that opened it is gone.
    b.reset();
    ASSERT_TRUE(Lookup(*a, u"7300014").ok());
    EXPECT_EQ(Results(*a), k7300014);
}

} // namespace
} // namespace ubin::test
