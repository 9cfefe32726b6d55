// Values, property bags, saved forms and the registry file, without any library loaded.
#include "qt/component/property_bag.h"
#include "qt/component/registry.h"
#include "qt/component/saved_form.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace ubin::component {
namespace {

TEST(Values, ConversionsFollowTheDispatchRules)
{
    EXPECT_EQ(Coerce(Value(2.5f), ValueType::Int32)->int32(), 2);
    EXPECT_EQ(Coerce(Value(3.5f), ValueType::Int32)->int32(), 4);
    EXPECT_EQ(Coerce(Value(-2.5f), ValueType::Int32)->int32(), -2);
    EXPECT_EQ(Coerce(Value(3e10f), ValueType::Int32).code(), kErrorTypeMismatch);
    EXPECT_EQ(Coerce(Value(std::int32_t{7}), ValueType::Single)->single(), 7.0f);
    EXPECT_EQ(Coerce(Value(u" 42 "), ValueType::Int32)->int32(), 42);
    EXPECT_EQ(Coerce(Value(u"42abc"), ValueType::Int32).code(), kErrorTypeMismatch);
    EXPECT_EQ(Coerce(Value(std::int32_t{-5}), ValueType::Text)->text(), u"-5");
    EXPECT_EQ(Coerce(Value(6180.5f), ValueType::Text)->text(), u"6180.5");
    EXPECT_EQ(Coerce(Value(), ValueType::Text)->text(), u"");
    EXPECT_EQ(Coerce(Value::Colour(0x80000013u), ValueType::Colour)->colour(), 0x80000013u);
}

TEST(PropertyBag, KeysIgnoreCaseAndKeepTheirFirstSpelling)
{
    PropertyBag bag;
    ASSERT_TRUE(bag.Set(u"Sheight", Value(5070.0f)).ok());
    ASSERT_TRUE(bag.Set(u"SHEIGHT", Value(4000.0f)).ok());
    ASSERT_EQ(bag.entries().size(), 1u);
    EXPECT_EQ(bag.entries()[0].key, u"Sheight");
    EXPECT_EQ(*bag.ReadSingle(u"sHeight", 1000.0f), 4000.0f);
    EXPECT_TRUE(bag.Set(u"Ｋｅｙ", Value(u"x")).ok()); // full-width letters fold too
    EXPECT_TRUE(bag.Contains(u"ｋｅｙ"));
}

TEST(PropertyBag, ReadGivesTheDefaultWhenMissingAndConvertsToItsType)
{
    PropertyBag bag;
    EXPECT_EQ(*bag.ReadText(u"Ubin1", u"IT1"), u"IT1");
    EXPECT_EQ(*bag.ReadColour(u"BackColor", 0x80000013u), 0x80000013u);
    bag.Set(u"SWidth", Value(std::int32_t{3000}));
    bag.Set(u"Ubin2", Value(std::int32_t{730}));
    bag.Set(u"ForeColor", Value(u"red"));
    EXPECT_EQ(*bag.ReadSingle(u"SWidth", 6180.0f), 3000.0f);
    EXPECT_EQ(*bag.ReadText(u"Ubin2", u"IT2"), u"730");
    const Result<std::int32_t> bad = bag.ReadInt32(u"ForeColor", 0);
    EXPECT_EQ(bad.code(), kErrorTypeMismatch);
    EXPECT_NE(bad.message().find("ForeColor"), std::string::npos);
}

TEST(PropertyBag, WriteLeavesOutValuesEqualToTheirDefault)
{
    PropertyBag bag;
    ASSERT_TRUE(bag.Write(u"SWidth", Value(6180.0f), Value(std::int32_t{6180})).ok());
    ASSERT_TRUE(bag.Write(u"Ubin1", Value(u""), Value(u"IT1")).ok());
    ASSERT_TRUE(bag.Write(u"Ubin2", Value(u"IT2"), Value(u"IT2")).ok());
    ASSERT_TRUE(bag.Write(u"Sheight", Value(5070.0f), Value(std::int32_t{1000})).ok());
    ASSERT_TRUE(bag.Write(u"OptionBackColor", Value::Colour(0x00C0FFC0u), Value::Colour(0x80000013u)).ok());
    ASSERT_EQ(bag.entries().size(), 3u);
    EXPECT_EQ(bag.entries()[0].key, u"Ubin1");
    EXPECT_EQ(bag.entries()[1].key, u"Sheight");
    EXPECT_EQ(bag.entries()[1].value, Value(5070.0f)); // kept as written, not as the default's type
    EXPECT_EQ(bag.entries()[2].value.type(), ValueType::Int32);

    // A number never equals a text default; a value written back to its default drops the entry.
    ASSERT_TRUE(bag.Write(u"Ubin3", Value(std::int32_t{0}), Value(u"0")).ok());
    EXPECT_TRUE(bag.Contains(u"Ubin3"));
    ASSERT_TRUE(bag.Write(u"SHEIGHT", Value(std::int32_t{1000}), Value(1000.0f)).ok());
    EXPECT_FALSE(bag.Contains(u"Sheight"));
    EXPECT_EQ(bag.Write(u"Empty", Value(), Value(u"x")).code(), kErrorTypeMismatch);
}

TEST(SavedForm, RoundTripsTheBagAndExtentThroughItsFile)
{
    EXPECT_EQ(TwipsToHimetric(6180), 10901);
    EXPECT_EQ(TwipsToHimetric(5070), 8943);
    EXPECT_EQ(HimetricToTwips(10901), 6180);
    EXPECT_EQ(HimetricToTwips(8943), 5070);

    SavedForm form;
    SavedControl c{"UbinBangou1", "Marubeta.UbinBangou", "{00000000-0000-0000-0000-000000000001}", {10901, 8943}, {}};
    c.properties.Set(u"BackColor", Value::Colour(0x8000000Au));
    c.properties.Set(u"Ubin1", Value(u""));
    c.properties.Set(u"Ubin3", Value(u"広島市中区"));
    c.properties.Set(u"Sheight", Value(5070.25f));
    form.Put(c);
    test::TempDir dir;
    ASSERT_TRUE(WriteSavedForm(dir / "form.json", form).ok());
    const Result<SavedForm> back = ReadSavedForm(dir / "form.json");
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(*back, form);
    EXPECT_EQ(back->Find("UbinBangou1")->properties.entries()[0].value.colour(), 0x8000000Au);

    test::WriteBytes(dir / "bad.json", R"({"format":"marubeta-form 1","controls":[{"name":"a","programId":"p",
        "classId":"c","extent":{"width":1,"height":2},"properties":[{"key":"k","type":"int32","value":"x"}]}]})");
    const Result<SavedForm> bad = ReadSavedForm(dir / "bad.json");
    EXPECT_EQ(bad.code(), kErrorBadFile);
    EXPECT_NE(bad.message().find("\"k\""), std::string::npos);
}

RegisteredClass SampleClass(const std::string& programId, const std::string& classId)
{
    RegisteredClass c;
    c.libraryPath = "/opt/lib/lib" + programId + ".so";
    ClassInfo& i = c.info;
    i.typeLibraryId = "{11111111-2222-3333-4444-555555555555}";
    i.typeLibraryName = "Lib";
    i.typeLibraryDescription = "説明";
    i.classId = classId;
    i.className = "Cls";
    i.programId = programId;
    i.defaultInterface = {"{11111111-2222-3333-4444-555555555556}", "_Cls"};
    i.eventInterface = {"{11111111-2222-3333-4444-555555555557}", "__Cls"};
    i.members = {{"Go", 0x6003002D, 1, ValueType::Empty, {{"req", ValueType::Text, true}}, ""},
                 {"About", -552, 1, ValueType::Empty, {}, ""},
                 {"Back", 0x6803000A, 6, ValueType::Colour, {}, "ｵﾌﾞｼﾞｪｸﾄの背景色"}};
    i.events = {{"ClickDisp", 1, {}, ""}};
    return c;
}

TEST(Registry, KeepsEveryDetailOfAClassAndFindsItByEitherIdentifier)
{
    ClassRegistry registry;
    ASSERT_TRUE(registry.Add(SampleClass("Lib.Cls", "{AAAAAAAA-0000-0000-0000-000000000001}")).ok());
    const Result<ClassRegistry> back = ClassRegistry::Parse(registry.Serialize());
    ASSERT_TRUE(back.ok()) << back.message();
    ASSERT_EQ(back->classes().size(), 1u);
    EXPECT_EQ(back->classes()[0].info, registry.classes()[0].info);
    EXPECT_EQ(back->classes()[0].libraryPath, "/opt/lib/libLib.Cls.so");
    EXPECT_EQ(back->Serialize(), registry.Serialize());

    EXPECT_NE(back->Resolve("lib.cls"), nullptr);
    EXPECT_NE(back->Resolve("{aaaaaaaa-0000-0000-0000-000000000001}"), nullptr);
    EXPECT_EQ(back->Resolve("Lib.Other"), nullptr);

    // Another class may not take the program identifier; the same class replaces itself.
    EXPECT_EQ(registry.Add(SampleClass("LIB.CLS", "{AAAAAAAA-0000-0000-0000-000000000002}")).code(), kErrorRegistry);
    RegisteredClass moved = SampleClass("Lib.Cls", "{AAAAAAAA-0000-0000-0000-000000000001}");
    moved.libraryPath = "/elsewhere/lib.so";
    ASSERT_TRUE(registry.Add(moved).ok());
    ASSERT_EQ(registry.classes().size(), 1u);
    EXPECT_EQ(registry.classes()[0].libraryPath, "/elsewhere/lib.so");
}

TEST(Registry, RefusesBadClassesAndDamagedFiles)
{
    RegisteredClass twice = SampleClass("Lib.Cls", "{AAAAAAAA-0000-0000-0000-000000000001}");
    twice.info.members.push_back({"Again", -552, 1, ValueType::Empty, {}, ""});
    EXPECT_EQ(ClassRegistry().Add(twice).code(), kErrorInvalidArgument);
    RegisteredClass badId = SampleClass("Lib.Cls", "{not-an-id}");
    EXPECT_EQ(ClassRegistry().Add(badId).code(), kErrorInvalidArgument);
    RegisteredClass noDot = SampleClass("LibCls", "{AAAAAAAA-0000-0000-0000-000000000001}");
    EXPECT_EQ(ClassRegistry().Add(noDot).code(), kErrorInvalidArgument);

    EXPECT_EQ(ClassRegistry::Parse("{").code(), kErrorBadFile);
    EXPECT_EQ(ClassRegistry::Parse(R"({"format":"marubeta-classes 1","classes":[{"classId":1}]})").code(), kErrorBadFile);
    test::TempDir dir;
    const Result<ClassRegistry> missing = ClassRegistry::Load(dir / "none.json");
    ASSERT_TRUE(missing.ok());
    EXPECT_TRUE(missing->classes().empty());

    // A folder or a device where the file should be is named as what it is, not as bad JSON.
    const Result<ClassRegistry> folder = ClassRegistry::Load(dir.path());
    ASSERT_FALSE(folder.ok());
    EXPECT_NE(folder.message().find("is a folder; the class registry is a file (classes.json)"), std::string::npos)
        << folder.message();
    EXPECT_EQ(folder.message().find("at byte"), std::string::npos) << folder.message();
    const Result<ClassRegistry> device = ClassRegistry::Load("/dev/zero");
    ASSERT_FALSE(device.ok());
    EXPECT_NE(device.message().find("is not a regular file"), std::string::npos) << device.message();
}

TEST(Registry, DefaultPathFollowsTheConfigurationHome)
{
    EXPECT_EQ(DefaultRegistryPath("/x/cfg"), std::filesystem::path("/x/cfg/marubeta/classes.json"));
}

// Limits the size of files this process may write, so that the next write fails (for root too).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST(Registry, AFailedWriteLeavesTheOldFile)
{
    test::TempDir dir;
    const auto path = dir / "classes.json";
    ASSERT_TRUE(RegisterClasses(path, {SampleClass("Lib.One", "{AAAAAAAA-0000-0000-0000-000000000001}")}).ok());
    const std::string before = test::ReadBytes(path);
    Status s;
    {
        FileSizeLimit limit(before.size() / 2);
        s = RegisterClasses(path, {SampleClass("Lib.Two", "{AAAAAAAA-0000-0000-0000-000000000002}")});
    }
    EXPECT_EQ(s.code(), kErrorRegistry);
    EXPECT_FALSE(s.message().empty());
    EXPECT_EQ(test::ReadBytes(path), before);
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1) << "the temporary file was left behind";
}

} // namespace
} // namespace ubin::component
