// The component layer as a host uses it: register the test control library, create its class
// by program identifier, call members by id, hear events and notices, save and load.
#include "qt/component/host.h"
#include "tests/qt/component/test_control.h"

#include "tests/support/temp_dir.h"

#include <QLabel>
#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace ubin::component {
namespace {

using namespace ubin::component::test;

// Whether the test control library is mapped into this process now.
bool LibraryIsLoaded()
{
    void* handle = ::dlopen(UBIN_TEST_CONTROL, RTLD_NOW | RTLD_NOLOAD);
    if (handle) ::dlclose(handle);
    return handle != nullptr;
}

class Host : public ::testing::Test {
protected:
    void SetUp() override
    {
        Result<std::shared_ptr<ControlLibrary>> lib = ControlLibrary::Load(UBIN_TEST_CONTROL);
        ASSERT_TRUE(lib.ok()) << lib.message();
        const Status s = (*lib)->RegisterServer(registry_);
        ASSERT_TRUE(s.ok()) << s.message();
    }

    std::unique_ptr<HostedControl> Create(const SavedControl* saved = nullptr)
    {
        Result<std::unique_ptr<HostedControl>> c = loader_.Create(kTesterProgramId, &window_, saved);
        EXPECT_TRUE(c.ok()) << c.message();
        return c ? std::move(*c) : nullptr;
    }

    ubin::test::TempDir dir_;
    std::filesystem::path registry_ = dir_ / "config/marubeta/classes.json";
    ControlLoader loader_{registry_};
    QWidget window_;
};

TEST_F(Host, RegistrationWritesEveryClassOfTheLibrary)
{
    const Result<ClassRegistry> registry = ClassRegistry::Load(registry_);
    ASSERT_TRUE(registry.ok()) << registry.message();
    ASSERT_EQ(registry->classes().size(), 2u);
    const RegisteredClass* tester = registry->FindByProgramId(kTesterProgramId);
    ASSERT_NE(tester, nullptr);
    EXPECT_EQ(tester->info.classId, kTesterClassId);
    EXPECT_EQ(tester->libraryPath, std::filesystem::canonical(UBIN_TEST_CONTROL).string());
    EXPECT_EQ(tester->info.defaultInterface.name, "_Tester");
    EXPECT_EQ(tester->info.eventInterface.name, "__Tester");
    const MemberInfo* about = tester->info.FindMember(kAbout);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->name, "About");
    EXPECT_EQ(tester->info.FindMember("caption")->description, "ｵﾌﾞｼﾞｪｸﾄの文字を設定します。");
    EXPECT_EQ(tester->info.FindMember(kGreet)->arguments.at(0).byReference, true);
    EXPECT_EQ(tester->info.FindEvent(kClicked)->name, "Clicked");
}

TEST_F(Host, RegisterThenUnregisterLeavesTheRegistryAsItWas)
{
    // Unregister what SetUp registered: no class left, no file left.
    Result<std::shared_ptr<ControlLibrary>> lib = ControlLibrary::Load(UBIN_TEST_CONTROL);
    ASSERT_TRUE(lib.ok());
    ASSERT_TRUE((*lib)->UnregisterServer(registry_).ok());
    EXPECT_FALSE(std::filesystem::exists(registry_));

    // With another class already registered, the file comes back byte for byte.
    RegisteredClass other;
    other.libraryPath = "/opt/other/libother.so";
    other.info.typeLibraryId = "{11111111-2222-3333-4444-555555555555}";
    other.info.typeLibraryName = "Other";
    other.info.classId = "{11111111-2222-3333-4444-555555555558}";
    other.info.className = "Thing";
    other.info.programId = "Other.Thing";
    other.info.defaultInterface = {"{11111111-2222-3333-4444-555555555556}", "_Thing"};
    other.info.eventInterface = {"{11111111-2222-3333-4444-555555555557}", "__Thing"};
    ASSERT_TRUE(RegisterClasses(registry_, {other}).ok());
    const std::string before = ubin::test::ReadBytes(registry_);
    ASSERT_TRUE((*lib)->RegisterServer(registry_).ok());
    EXPECT_NE(ubin::test::ReadBytes(registry_), before);
    ASSERT_TRUE((*lib)->UnregisterServer(registry_).ok());
    EXPECT_EQ(ubin::test::ReadBytes(registry_), before);
    EXPECT_TRUE((*lib)->UnregisterServer(registry_).ok()) << "a second unregistration is no error";
}

TEST_F(Host, CreationFailsWithAMessageForUnknownOrFailingClasses)
{
    const auto unknown = loader_.Create("Sample.Nothing", &window_);
    EXPECT_EQ(unknown.code(), kErrorNotRegistered);
    EXPECT_NE(unknown.message().find("Sample.Nothing"), std::string::npos);

    const auto broken = loader_.Create(kBrokenProgramId, &window_);
    EXPECT_EQ(broken.code(), kErrorFailed);
    EXPECT_NE(broken.message().find("ubscon.def"), std::string::npos);

    Result<std::shared_ptr<ControlLibrary>> lib = ControlLibrary::Load(UBIN_TEST_CONTROL);
    ASSERT_TRUE(lib.ok());
    EXPECT_EQ((*lib)->GetClassObject("{00000000-0000-0000-0000-000000000000}").code(), kErrorClassNotAvailable);
    EXPECT_TRUE((*lib)->CanUnloadNow()) << "a failed creation leaves no instance behind";

    // Only the four entry points are visible.
    void* handle = ::dlopen(UBIN_TEST_CONTROL, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    EXPECT_NE(::dlsym(handle, "DllCanUnloadNow"), nullptr);
    EXPECT_EQ(::dlsym(handle, "_ZN4ubin9component11ControlBase13LiveInstancesEv"), nullptr);
    ::dlclose(handle);
}

TEST_F(Host, DispatchesEveryKindByMemberId)
{
    auto control = Create();
    ASSERT_TRUE(control);
    EXPECT_EQ(control->classInfo().programId, kTesterProgramId);
    EXPECT_TRUE(qobject_cast<QLabel*>(control->face()));
    EXPECT_EQ(control->face()->parentWidget(), control.get());

    // Property let and get of each type.
    ASSERT_TRUE(control->Let(kCaption, Value(u"広島")).ok());
    EXPECT_EQ(control->Get(kCaption)->text(), u"広島");
    EXPECT_EQ(qobject_cast<QLabel*>(control->face())->text(), QString::fromUtf8("広島"));
    ASSERT_TRUE(control->Let(kWidth, Value(std::int32_t{3000})).ok()); // converted to single
    EXPECT_EQ(*control->Get(kWidth), Value(3000.0f));
    ASSERT_TRUE(control->Let(kColour, Value::Colour(0x00C0FFC0u)).ok());
    EXPECT_EQ(control->Get(kColour)->colour(), 0x00C0FFC0u);

    // Methods, a negative member id among them, and a by-reference argument.
    EXPECT_EQ(control->Get(kCount)->int32(), 0);
    ASSERT_TRUE(control->Call(kAbout).ok());
    ASSERT_TRUE(control->Call(kAbout).ok());
    EXPECT_EQ(control->Get(kCount)->int32(), 2);
    std::vector<Value> args{Value(u"Ubin")};
    Result<Value> reply = control->Invoke(kGreet, InvokeKind::Method, args);
    ASSERT_TRUE(reply.ok()) << reply.message();
    EXPECT_EQ(reply->text(), u"Hello, Ubin");
    EXPECT_EQ(args[0].text(), u"Ubin!");
    EXPECT_EQ(control->IdOf("greet"), kGreet);
}

TEST_F(Host, DispatchErrorsCarryACodeAndMessage)
{
    auto control = Create();
    ASSERT_TRUE(control);
    const Result<Value> unknown = control->Get(0x68039999);
    EXPECT_EQ(unknown.code(), kErrorMemberNotFound);
    EXPECT_NE(unknown.message().find("0x68039999"), std::string::npos);
    EXPECT_EQ(control->Call(-999).code(), kErrorMemberNotFound);
    EXPECT_EQ(control->Let(kCount, Value(std::int32_t{1})).code(), kErrorNotSupported);
    EXPECT_EQ(control->Get(kAbout).code(), kErrorNotSupported);
    EXPECT_EQ(control->Call(kGreet).code(), kErrorArgumentCount);
    EXPECT_EQ(control->Call(kResize, {Value(u"wide"), Value(std::int32_t{1})}).code(), kErrorTypeMismatch);
    EXPECT_EQ(control->Let(kWidth, Value(u"abc")).code(), kErrorTypeMismatch);
    EXPECT_EQ(*control->Get(kWidth), Value(412 * 15.0f)) << "a refused let changes nothing";

    const Result<Value> failed = control->Call(kFail);
    EXPECT_EQ(failed.code(), kErrorInMember);
    EXPECT_NE(failed.message().find("UIND1.IDX"), std::string::npos);
}

TEST_F(Host, EventsReachTheSinksInsideTheCall)
{
    auto control = Create();
    ASSERT_TRUE(control);
    std::vector<std::int32_t> countsSeen;
    int nestedCalls = 0;
    const int first = control->Connect([&](MemberId event, std::span<const Value> args) {
        EXPECT_EQ(event, kClicked);
        EXPECT_TRUE(args.empty());
        // The control counts after its event: the handler sees the count from before the call.
        countsSeen.push_back(control->Get(kCount)->int32());
        if (nestedCalls++ == 0) {
            EXPECT_TRUE(control->Call(kFire).ok()); // a nested call runs to its end
        }
    });
    int second = 0;
    second = control->Connect([&](MemberId, std::span<const Value>) { control->Disconnect(second); });
    ASSERT_NE(first, 0);
    ASSERT_NE(second, first);

    ASSERT_TRUE(control->Call(kFire).ok());
    EXPECT_EQ(countsSeen, (std::vector<std::int32_t>{0, 0}));
    EXPECT_EQ(control->Get(kCount)->int32(), 2);

    EXPECT_TRUE(control->Disconnect(first));
    EXPECT_FALSE(control->Disconnect(second)) << "the second sink disconnected itself";
    ASSERT_TRUE(control->Call(kFire).ok());
    EXPECT_EQ(countsSeen.size(), 2u);
}

TEST_F(Host, TheSiteHearsNoticesAndSizes)
{
    auto control = Create();
    ASSERT_TRUE(control);
    QSignalSpy notices(control.get(), &HostedControl::propertyChanged);
    ASSERT_TRUE(control->Let(kCaption, Value(u"x")).ok());
    ASSERT_TRUE(control->Let(kColour, Value::Colour(1)).ok()); // gives no notice
    ASSERT_TRUE(control->Let(kWidth, Value(1.0f)).ok());
    ASSERT_EQ(notices.count(), 2);
    EXPECT_EQ(notices.at(0).at(0).toString(), "Caption");
    EXPECT_EQ(notices.at(1).at(0).toString(), "Width");

    // A new instance takes its extent from its face; the control may ask for another.
    EXPECT_EQ(control->extent(), PixelsToExtent(QSize(412, 338), control.get()));
    ASSERT_TRUE(control->Call(kResize, {Value(std::int32_t{6180}), Value(std::int32_t{5070})}).ok());
    EXPECT_EQ(control->extent(), (Extent{10901, 8943}));
    EXPECT_EQ(control->size(), ExtentToPixels({10901, 8943}, control.get()));
    EXPECT_EQ(control->face()->size(), control->size());

    EXPECT_EQ(control->Get(kCanFocus)->int32(), 0) << "the window is not shown";
    window_.show();
    EXPECT_EQ(control->Get(kCanFocus)->int32(), 1);
}

TEST_F(Host, SavedFormRoundTripsThroughANewInstance)
{
    auto control = Create();
    ASSERT_TRUE(control);
    // A new instance saved at once leaves out what equals its defaults.
    Result<SavedControl> fresh = control->Save("Tester1");
    ASSERT_TRUE(fresh.ok()) << fresh.message();
    EXPECT_FALSE(fresh->properties.Contains(u"Colour"));
    EXPECT_TRUE(fresh->properties.Contains(u"Caption")); // "" differs from "Label1"

    ASSERT_TRUE(control->Let(kCaption, Value(u"中区")).ok());
    ASSERT_TRUE(control->Let(kColour, Value::Colour(0x8000000Au)).ok());
    ASSERT_TRUE(control->Let(kWidth, Value(std::int32_t{6180})).ok());
    control->setExtent({10901, 8943});
    Result<SavedControl> saved = control->Save("Tester1");
    ASSERT_TRUE(saved.ok());
    EXPECT_FALSE(saved->properties.Contains(u"Width")) << "6180.0 equals the default 6180";
    EXPECT_EQ(saved->classId, kTesterClassId);
    EXPECT_EQ(saved->programId, kTesterProgramId);

    SavedForm form;
    form.Put(*saved);
    ASSERT_TRUE(WriteSavedForm(dir_ / "form.json", form).ok());
    const Result<SavedForm> back = ReadSavedForm(dir_ / "form.json");
    ASSERT_TRUE(back.ok()) << back.message();
    auto loaded = Create(back->Find("Tester1"));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->extent(), (Extent{10901, 8943}));
    EXPECT_EQ(loaded->Get(kCaption)->text(), u"中区");
    EXPECT_EQ(loaded->Get(kColour)->colour(), 0x8000000Au);
    EXPECT_EQ(*loaded->Get(kWidth), Value(6180.0f));

    // A bag that lacks a key gives the control's default.
    SavedControl bare = *saved;
    bare.properties.Remove(u"CAPTION");
    auto defaulted = Create(&bare);
    ASSERT_TRUE(defaulted);
    EXPECT_EQ(defaulted->Get(kCaption)->text(), u"Label1");

    // A bag whose value has the wrong type fails the load with the key named.
    bare.properties.Set(u"Colour", Value(u"blue"));
    const auto wrong = loader_.Create(kTesterProgramId, &window_, &bare);
    EXPECT_EQ(wrong.code(), kErrorTypeMismatch);
    EXPECT_NE(wrong.message().find("Colour"), std::string::npos);
}

TEST_F(Host, TheLibraryUnloadsOnlyAfterTheLastInstance)
{
    Result<std::shared_ptr<ControlLibrary>> probe = ControlLibrary::Load(UBIN_TEST_CONTROL);
    ASSERT_TRUE(probe.ok());
    EXPECT_TRUE((*probe)->CanUnloadNow());
    {
        auto a = Create();
        auto b = Create();
        ASSERT_TRUE(a && b);
        EXPECT_FALSE((*probe)->CanUnloadNow());
        a.reset();
        EXPECT_FALSE((*probe)->CanUnloadNow()) << "one instance is still alive";
        EXPECT_EQ(b->Get(kCount)->int32(), 0);
    }
    EXPECT_TRUE((*probe)->CanUnloadNow());
    probe->reset();
    EXPECT_FALSE(LibraryIsLoaded());

    auto again = Create();
    ASSERT_TRUE(again);
    EXPECT_TRUE(LibraryIsLoaded());
    EXPECT_TRUE(again->Call(kAbout).ok());
    again.reset();
    EXPECT_FALSE(LibraryIsLoaded());
}

TEST(Regsvr, RegistersAndUnregistersALibrary)
{
    ubin::test::TempDir dir;
    const QString registry = QString::fromStdString((dir / "classes.json").string());
    auto run = [&](QStringList args, QString* out = nullptr) {
        QProcess p;
        p.start(UBIN_REGSVR, args << "--registry" << registry);
        p.waitForFinished(30000);
        if (out) *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QString out;
    ASSERT_EQ(run({UBIN_TEST_CONTROL}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(kTesterProgramId));
    const Result<ClassRegistry> reg = ClassRegistry::Load(dir / "classes.json");
    ASSERT_TRUE(reg.ok());
    EXPECT_NE(reg->FindByProgramId(kTesterProgramId), nullptr);

    EXPECT_EQ(run({UBIN_TEST_CONTROL, "-u"}), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "classes.json"));

    ubin::test::WriteBytes(dir / "not-a-library.so", "junk");
    EXPECT_EQ(run({QString::fromStdString((dir / "not-a-library.so").string())}, &out), 1);
    EXPECT_TRUE(out.contains("not-a-library.so"));
    // A command line it does not understand is refused with status 2 and one line.
    EXPECT_EQ(run({}, &out), 2);
    EXPECT_TRUE(out.contains("no LIBRARY given")) << out.toStdString();
    EXPECT_EQ(run({"--no-such-option", UBIN_TEST_CONTROL}, &out), 2);
    EXPECT_EQ(out.count('\n'), 1) << out.toStdString();
}

} // namespace
} // namespace ubin::component
