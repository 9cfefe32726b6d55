// The grammar of KEN_ALL's town notes, on hand-written town fields of each kind, and the list
// of the notes of the full KEN_ALL.CSV it cannot read.
#include "base/cp932.h"
#include "base/path_text.h"
#include "builder/builder.h"
#include "builder/town_notes.h"
#include "directory/address_table.h"
#include "directory/directory.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace ubin;

namespace {

// The clauses as the address notes file writes them (directory/address_file.cpp).
std::string Clauses(const AddressRecord& r)
{
    AddressFile f;
    AddressRecord copy = r;
    copy.entry = 1;
    f.records.push_back(copy);
    const std::string text = FormatAddressFile(f);
    const std::size_t tab = text.rfind('\t');
    return text.substr(tab + 1, text.size() - tab - 2);
}

AddressRecord Read(const char* city, const char* town, const char* note)
{
    const auto isTown = [](std::u16string_view name) { return name == u"丸の内" || name == u"名駅"; };
    return ReadTownNote(FromUtf8(city), FromUtf8(town), FromUtf8(note), isTown);
}

struct Case {
    const char* city;
    const char* town;
    const char* note;
    NoteKind kind;
    const char* townWithoutNote;
    const char* clauses; // N<low>/<high> with parts 地割,丁目,番地,号
};

} // namespace

TEST(TownNotes, EachKindOfNoteIsTakenApart)
{
    const Case cases[] = {
        {"千代田区", "以下に掲載がない場合", "", NoteKind::RestOfCity, "", ""},
        {"北都留郡小菅村", "小菅村の次に１～６６３番地がくる場合", "", NoteKind::NumberFirst, "", "N,,1,/,,663,"},
        {"北都留郡小菅村", "小菅村の次に６６４番地以降がくる場合", "", NoteKind::NumberFirst, "", "N,,664,/,,,"},
        {"猿島郡境町", "境町の次に番地がくる場合", "", NoteKind::NumberFirst, "", "B"},
        {"利島村", "利島村一円", "", NoteKind::WholeCity, "", ""},
        {"千代田区", "一円", "", NoteKind::None, "一円", ""}, // a town of that name is a town
        {"千代田区", "丸の内", "次のビルを除く", NoteKind::ExceptBuildings, "丸の内", ""},
        {"札幌市中央区", "北一条西", "１～１９丁目", NoteKind::Numbers, "北一条西", "N,1,,/,19,,"},
        {"帯広市", "西十九条南", "３５～３８、４１、４２丁目", NoteKind::Numbers, "西十九条南",
         "N,35,,/,38,,|N,41,,/,41,,|N,42,,/,42,,"},
        {"札幌市南区", "藤野", "４００、４００－２番地", NoteKind::Numbers, "藤野", "N,,400,/,,400,|N,,400,2/,,400,2"},
        {"宮古市", "川井", "第９地割～第１１地割", NoteKind::Numbers, "川井", "N9,,,/11,,,"},
        {"宮古市", "箱石", "第２地割「７０～１３６」～第４地割「３～１１」", NoteKind::Numbers, "箱石", "N2,,70,/4,,11,"},
        {"新宿区", "西早稲田", "２丁目１番１～２３号、２番", NoteKind::Numbers, "西早稲田",
         "N,2,1,1/,2,1,23|N,2,2,/,2,2,"},
        {"余市郡仁木町", "大江", "１丁目、２丁目「６５１、６６２、６６８番地」以外", NoteKind::Numbers, "大江",
         "N,1,,/,1,,|N,2,,/,2,,!,2,651,/,2,651,!,2,662,/,2,662,!,2,668,/,2,668,"},
        {"新潟市", "潟守新田", "５３の１～６０の９番地", NoteKind::Numbers, "潟守新田", "N,,53,1/,,60,9"},
        {"新宿区", "戸山", "３丁目１８・２１番", NoteKind::Numbers, "戸山", "N,3,18,/,3,18,|N,3,21,/,3,21,"},
        {"新見市", "草間", "その他", NoteKind::Numbers, "草間", "O"},
        {"名古屋市中村区", "名駅", "１－１－８、１－３－４", NoteKind::Numbers, "名駅", "N,1,1,8/,1,1,8|N,1,3,4/,1,3,4"},
        {"尾鷲市", "矢浜", "丁目", NoteKind::Numbers, "矢浜", "C"},
        {"京都市上京区", "近衛町", "油小路通下立売上る、出水通油小路西入", NoteKind::Streets, "近衛町",
         "S油小路通下立売上ル|S出水通油小路西入"},
        {"京都市左京区", "岩倉上蔵町", "２６７、２６８番地", NoteKind::Numbers, "岩倉上蔵町",
         "N,,267,/,,267,|N,,268,/,,268,"},
        {"南砺市", "福光", "旭町", NoteKind::SubAreas, "福光", "A旭町"},
        {"深川市", "音江町", "国見その他", NoteKind::SubAreas, "音江町", "A国見|O"},
        {"十日町市", "十日町", "猫屋敷３２９～３５６", NoteKind::SubAreas, "十日町", "A猫屋敷#,,329,/,,356,"},
        {"最上郡大蔵村", "南山", "４３０番地以上「１７７０－１～２、１８６２－４２を除く」、大谷地", NoteKind::Mixed, "南山",
         "N,,430,/,,,!,,1770,1/,,1770,2!,,1862,42/,,1862,42|A大谷地"},
        {"双葉郡富岡町", "毛萱", "３１１、３１２番地〔東京電力福島第二原子力発電所構内〕", NoteKind::Numbers, "毛萱",
         "N,,311,/,,311,|N,,312,/,,312,"},
        {"鶴岡市", "留萌原野", "１～１２線", NoteKind::Plain, "留萌原野", "P1~12線"},
    };
    for (const Case& c : cases) {
        const AddressRecord r = Read(c.city, c.town, c.note);
        EXPECT_EQ(r.kind, c.kind) << c.town << "（" << c.note << "）";
        EXPECT_EQ(ToUtf8(r.town), c.townWithoutNote) << c.town << "（" << c.note << "）";
        EXPECT_EQ(Clauses(r), c.clauses) << c.town << "（" << c.note << "）";
    }
}

TEST(TownNotes, ABuildingStandsInTheLongestTownItsNameBeginsWith)
{
    AddressRecord r = Read("千代田区", "丸の内ＪＰタワー", "３０階");
    EXPECT_EQ(r.kind, NoteKind::Floor);
    EXPECT_EQ(r.town, u"丸の内");
    EXPECT_EQ(r.building, u"ＪＰタワー");
    EXPECT_EQ(r.buildingKey, u"JPタワー");
    EXPECT_EQ(r.floor, 30);
    r = Read("千代田区", "丸の内ＪＰタワー", "地階・階層不明");
    EXPECT_EQ(r.floor, kFloorUnknown);
    EXPECT_EQ(r.floorText, u"地階・階層不明");
    // Groups before the floor belong to the building's name.
    r = Read("名古屋市中村区", "名駅ミッドランドスクエア", "高層棟　１階");
    EXPECT_EQ(r.building, u"ミッドランドスクエア（高層棟）");
    EXPECT_EQ(r.buildingKey, u"ミッドランドスクエア");
    EXPECT_EQ(r.floor, 1);
}

TEST(TownNotes, ALineWithoutDetailOrPlaceholderPlainlyHasNoNote)
{
    const struct {
        const char16_t* town;
        const char16_t* detail;
        bool plain;
    } cases[] = {
        {u"銀座", u"", true},
        {u"銀座", u"１丁目", false},
        {u"以下に掲載がない場合", u"", false},
        {u"いの町の次に番地がくる場合", u"", false},
        {u"三宅村一円", u"", false},
        {u"一円", u"", false}, // even where the city does not match, the record decides
    };
    for (const auto& c : cases) EXPECT_EQ(PlainlyWithoutNote(c.town, c.detail), c.plain) << ToUtf8(c.town);
    // Wherever the grammar sees no note, the shortcut never claims one that the grammar reads.
    for (const auto& c : cases) {
        if (PlainlyWithoutNote(c.town, c.detail)) {
            EXPECT_EQ(Read("高知県吾川郡いの町", ToUtf8(c.town).c_str(), "").kind, NoteKind::None);
        }
    }
}

TEST(TownNotes, TheFullFileLeavesAlmostNoNoteUnread)
{
    const std::filesystem::path kenAll = UBIN_FULL_KEN_ALL;
    if (!std::filesystem::exists(kenAll)) GTEST_SKIP() << "the full KEN_ALL.CSV is not here";
    test::TempDir t;
    const BuildReport report = BuildDirectory(kenAll, t / "dir");
    const AddressTable notes(t / "dir" / PathFromUtf8("住所.IDX"), platform::MappedFile::Mode::Map);
    notes.NeedAll();
    // An entry its line shows plainly without a note has the kind None (programs showing it
    // then read no record).
    DirectoryState dir;
    dir.dataFolder = FromUtf8(PathToUtf8(t / "dir") + "/");
    dir.StartUp();
    int plain = 0;
    for (std::int32_t n = 1; n <= dir.entryCount; ++n) {
        const DirectoryLine line = dir.ReadPostalEntry(n);
        if (!PlainlyWithoutNote(line.townName, line.detail)) continue;
        ++plain;
        EXPECT_EQ(notes.Record(n)->kind(), NoteKind::None) << ToUtf8(line.postalCode + u" " + line.townName);
    }
    EXPECT_GT(plain, 100000); // of 124,321 entries: most lines need no record read
    int unread = 0;
    for (std::int32_t i = 0; i < notes.RecordCount(); ++i)
        if (const AddressRecord r = notes.RecordAt(i).Copy(); HasUnreadNote(r)) {
            ++unread;
            std::printf("unread: %s（%s）\n", ToUtf8(r.town).c_str(), ToUtf8(r.note).c_str());
        }
    EXPECT_EQ(unread, report.unreadNotes);
    EXPECT_LE(unread, 20); // of 6,434 notes; the list above says which
}
