// Written addresses resolved over a directory built from hand-made KEN_ALL rows: each rule of
// the resolution, each in two notations, and the address notes file read back as written.
#include "base/cp932.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "search/find.h"
#include "tests/search/built_directory.h"
#include "tests/support/japan_post_rows.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"

#include <gtest/gtest.h>

using namespace ubin;
using test::KenAllRow;

namespace {

KenAllRow Row(const char* code, const char* postal, const char* pref, const char* city, const char* town)
{
    return {code, postal, "ｱ", "ｲ", "ｳ", pref, city, town};
}

const std::vector<KenAllRow> kAddressRows = {
    Row("13101", "1000000", "東京都", "千代田区", "以下に掲載がない場合"),
    Row("13101", "1000005", "東京都", "千代田区", "丸の内（次のビルを除く）"),
    Row("13101", "1007090", "東京都", "千代田区", "丸の内ＪＰタワー（地階・階層不明）"),
    Row("13101", "1007001", "東京都", "千代田区", "丸の内ＪＰタワー（１階）"),
    Row("13101", "1007030", "東京都", "千代田区", "丸の内ＪＰタワー（３０階）"),
    Row("13101", "1000014", "東京都", "千代田区", "永田町"),
    Row("23106", "4600002", "愛知県", "名古屋市中区", "丸の内"),
    Row("01101", "0600001", "北海道", "札幌市中央区", "北一条西（１～１９丁目）"),
    Row("01101", "0640821", "北海道", "札幌市中央区", "北一条西（２０～２８丁目）"),
    Row("01106", "0050840", "北海道", "札幌市南区", "藤野（４００、４００－２番地）"),
    Row("01106", "0612271", "北海道", "札幌市南区", "藤野（その他）"),
    Row("01106", "0612283", "北海道", "札幌市南区", "藤野三条"),
    Row("01400", "0440001", "北海道", "虻田郡倶知安町", "北一条東"),
    Row("03202", "0282402", "岩手県", "宮古市", "川井（第９地割～第１１地割）"),
    Row("03202", "0282302", "岩手県", "宮古市", "川井（その他）"),
    Row("26102", "6028046", "京都府", "京都市上京区", "近衛町（油小路通下立売上る、出水通油小路西入）"),
    Row("26102", "6028019", "京都府", "京都市上京区", "近衛町（室町通出水上る、下長者町通室町西入）"),
    Row("26106", "6008175", "京都府", "京都市下京区", "烏丸（２丁目）"),
    Row("26106", "6008216", "京都府", "京都市下京区", "東塩小路町"),
    Row("06365", "9996105", "山形県", "最上郡最上町", "富澤"),
    Row("01204", "0700034", "北海道", "旭川市", "４条通（１～１７丁目）"),
    Row("01204", "0788214", "北海道", "旭川市", "４条通（１８～２５丁目）"),
    Row("01207", "0800029", "北海道", "帯広市", "西十九条南（３５～３８、４１、４２丁目）"),
    Row("01207", "0800030", "北海道", "帯広市", "西十九条南（３９、４０丁目）"),
    Row("40229", "8350016", "福岡県", "みやま市", "瀬高町濱田"),
    Row("40229", "8350019", "福岡県", "みやま市", "瀬高町大江"),
    Row("11201", "3501175", "埼玉県", "川越市", "笠幡"),
    Row("20323", "3890102", "長野県", "北佐久郡軽井沢町", "軽井沢（大字）"),
    Row("20323", "3890103", "長野県", "北佐久郡軽井沢町", "軽井沢（その他）"),
    Row("23105", "4506090", "愛知県", "名古屋市中村区", "名駅ミッドランドスクエア（高層棟）（地階・階層不明）"),
    Row("23105", "4506105", "愛知県", "名古屋市中村区", "名駅ミッドランドスクエア（高層棟）（５階）"),
    Row("23105", "4500002", "愛知県", "名古屋市中村区", "名駅（その他）"),
    Row("23105", "4530002", "愛知県", "名古屋市中村区", "名駅（１－１－８、１－３－４）"),
    Row("08542", "3060400", "茨城県", "猿島郡境町", "以下に掲載がない場合"),
    Row("08542", "3060433", "茨城県", "猿島郡境町", "境町の次に番地がくる場合"),
    Row("08542", "3060422", "茨城県", "猿島郡境町", "一ノ谷"),
    Row("08205", "3150042", "茨城県", "石岡市", "茨城"),
    Row("08222", "3140031", "茨城県", "鹿嶋市", "宮中"),
    Row("41207", "8490000", "佐賀県", "鹿島市", "以下に掲載がない場合"),
    Row("41207", "8491311", "佐賀県", "鹿島市", "高津原"),
    Row("13117", "1140000", "東京都", "北区", "以下に掲載がない場合"),
    Row("13117", "1150045", "東京都", "北区", "赤羽"),
    Row("27127", "5300001", "大阪府", "大阪市北区", "梅田"),
    Row("34101", "7300014", "広島県", "広島市中区", "上幟町"),
    Row("06402", "9990601", "山形県", "西置賜郡飯豊町", "中"),
    Row("13103", "1060032", "東京都", "港区", "六本木（次のビルを除く）"),
    Row("13103", "1066190", "東京都", "港区", "六本木六本木ヒルズ森タワー（地階・階層不明）"),
    Row("13103", "1066145", "東京都", "港区", "六本木六本木ヒルズ森タワー（４５階）"),
    Row("26104", "6040084", "京都府", "京都市中京区", "下丸屋町（小川通夷川下る、小川通夷川上る）"),
    Row("26104", "6048006", "京都府", "京都市中京区", "下丸屋町（御池通河原町東入、河原町通姉小路上る）"),
    Row("22219", "4150000", "静岡県", "下田市", "以下に掲載がない場合"),
    Row("22219", "4150001", "静岡県", "下田市", "下田市の次に番地がくる場合"),
    Row("22219", "4150021", "静岡県", "下田市", "一丁目"),
    Row("39386", "7812100", "高知県", "吾川郡いの町", "以下に掲載がない場合"),
    Row("39386", "7812110", "高知県", "吾川郡いの町", "いの町の次に番地がくる場合"),
    Row("10205", "3730019", "群馬県", "太田市", "吉沢町"),
    Row("10205", "3730036", "群馬県", "太田市", "由良町"),
    Row("10205", "3730037", "群馬県", "太田市", "由良"),
    Row("07202", "9650003", "福島県", "会津若松市", "一箕町八幡"),
    Row("04215", "9896711", "宮城県", "大崎市", "鳴子温泉町"),
    Row("04215", "9896811", "宮城県", "大崎市", "鳴子温泉鷲ノ巣"),
    Row("04421", "9813621", "宮城県", "黒川郡大和町", "吉岡"),
    Row("04421", "9813627", "宮城県", "黒川郡大和町", "吉岡東"),
    Row("41209", "8430301", "佐賀県", "嬉野市", "嬉野町下宿"),
    Row("35215", "7450071", "山口県", "周南市", "岐山通り"),
    Row("23104", "4510045", "愛知県", "名古屋市西区", "名駅"),
    Row("14103", "2200012", "神奈川県", "横浜市西区", "みなとみらい"),
    Row("14109", "2220033", "神奈川県", "横浜市港北区", "新横浜"),
    Row("26102", "6020000", "京都府", "京都市上京区", "以下に掲載がない場合"),
    Row("26104", "6040974", "京都府", "京都市中京区", "四丁目"),
    Row("15210", "9480003", "新潟県", "十日町市", "本町（７丁目）"),
    Row("15210", "9480082", "新潟県", "十日町市", "本町二丁目"),
};

// An office at an address whose town KEN_ALL does not list: the city's own entry still comes
// first, the office after it.
const std::vector<test::JigyosyoRow> kAddressOffices = {
    {"39386", "ｲﾉﾁｮｳ", "いの町立病院", "高知県", "吾川郡いの町", "", "１３６９", "7812193"},
};

class Address : public ::testing::Test {
protected:
    static void SetUpTestSuite() { built_ = new test::BuiltDirectory(kAddressRows, kAddressOffices); }
    static void TearDownTestSuite() { delete built_; }
    static std::string First(const char* query)
    {
        const FindResult r = built_->finder->Find(FromUtf8(query), 1);
        return r.results.empty() ? "nothing" : ToUtf8(r.results[0].postalCode);
    }

    static inline test::BuiltDirectory* built_ = nullptr;
};


struct Written {
    const char* one;
    const char* other; // the same address in another notation
    const char* code;
};

} // namespace

TEST_F(Address, TheEntryWhoseNoteCoversTheAddressComesFirstInAnyNotation)
{
    const Written cases[] = {
        // A building's floor; no floor, or a basement: its 地階・階層不明 entry.
        {"丸の内2-7-2 JPタワー30階", "東京都千代田区丸の内二丁目七番二号ＪＰタワー３０Ｆ", "1007030"},
        {"東京都千代田区丸の内２－７－２ＪＰタワー", "千代田区丸の内2丁目7-2 JPタワー地下1階", "1007090"},
        // Outside the buildings: the town's 次のビルを除く entry.
        {"東京都千代田区丸の内1-1-1", "千代田区丸の内一丁目1番1号", "1000005"},
        // The range that holds the 丁目, whichever way it is written.
        {"札幌市中央区北1条西25丁目", "北海道札幌市中央区北一条西二十五丁目", "0640821"},
        {"北海道札幌市中央区北一条西５－１", "札幌市中央区北1条西5丁目1", "0600001"},
        {"札幌市南区藤野400-2", "札幌市南区藤野４００番地の２", "0050840"},
        // A number no range holds: その他.
        {"札幌市南区藤野500", "札幌市南区藤野五百番地", "0612271"},
        {"岩手県宮古市川井第10地割", "宮古市川井第十地割5番地", "0282402"},
        {"旭川市4条通19丁目", "北海道旭川市四条通十九丁目", "0788214"},
        {"帯広市西19条南41丁目", "北海道帯広市西十九条南４１－３", "0800029"},
        {"帯広市西19条南40丁目", "北海道帯広市西十九条南四十丁目", "0800030"},
        // Kyoto streets before or after the town.
        {"京都市上京区油小路通下立売上る近衛町", "京都市上京区近衛町油小路通下立売上ル", "6028046"},
        {"京都市上京区近衛町室町通出水上る", "京都府京都市上京区室町通出水上ル近衛町", "6028019"},
        {"京都市下京区烏丸通七条下る東塩小路町721-1", "京都市下京区東塩小路町７２１－１", "6008216"},
        // Old and common kanji, 大字, the 郡 left out.
        {"山形県最上郡最上町富沢", "最上町富澤", "9996105"},
        {"福岡県みやま市瀬高町浜田", "みやま市瀬高町濱田", "8350016"},
        {"埼玉県川越市大字笠幡100", "川越市笠幡１００", "3501175"},
        // 大字 written: the town's 大字 entry; not written: その他.
        {"長野県北佐久郡軽井沢町大字軽井沢1323", "軽井沢町大字軽井沢１３２３番地", "3890102"},
        {"長野県北佐久郡軽井沢町軽井沢1323", "軽井沢町軽井沢１３２３番地", "3890103"},
        // A building written without the part KEN_ALL adds; a number in the short form.
        {"名古屋市中村区名駅4-7-1 ミッドランドスクエア 5F", "名古屋市中村区名駅四丁目7番1号ミッドランドスクエア５階", "4506105"},
        {"名古屋市中村区名駅1-3-4", "名古屋市中村区名駅一丁目3番4号", "4530002"},
        {"名古屋市中村区名駅1-3-5", "名古屋市中村区名駅一丁目3番5号", "4500002"},
        {"倶知安町北1条東1丁目", "北海道虻田郡倶知安町北一条東一丁目", "0440001"},
        // The number right after the city; a town named like a prefecture.
        {"茨城県猿島郡境町1番地", "境町１２３", "3060433"},
        {"茨城県石岡市茨城1-2", "石岡市茨城一丁目2", "3150042"},
        // A town the city does not have: the city's catch-all.
        {"東京都千代田区どこか5", "千代田区どこか", "1000000"},
        // Exact spellings win over the variant form: 鹿嶋市 and 鹿島市 are two cities.
        {"鹿嶋市宮中1-2", "茨城県鹿嶋市宮中", "3140031"},
        {"鹿島市高津原1-2", "佐賀県鹿島市高津原", "8491311"},
        // A designated city's ward without its city: the ward that has the town; a city of
        // that name first when no ward has it.
        {"北区梅田3-1-1", "大阪府北区梅田三丁目1番1号", "5300001"},
        {"北区赤羽1-1", "東京都北区赤羽一丁目1", "1150045"},
        {"中区上幟町8-18", "広島県中区上幟町８－１８", "7300014"},
        {"中区丸の内1-1", "愛知県中区丸の内一丁目1", "4600002"},
        {"北区どこか1", "北区どこか", "1140000"},
        // A building whose name begins with a numeral (六本木 → 6本木 in name form) after a
        // house number ending in 号, after a blank, or right after the town.
        {"東京都港区六本木6丁目10番1号 六本木ヒルズ森タワー45F", "港区六本木六本木ヒルズ森タワー４５階", "1066145"},
        {"港区六本木6-10-1六本木ヒルズ森タワー", "港区六本木 六本木ヒルズ森タワー", "1066190"},
        // A Kyoto street the notes list with another crossing: the entry of that street.
        {"京都市中京区河原町通三条上る下丸屋町", "京都市中京区下丸屋町河原町通三条上ル", "6048006"},
        {"京都市中京区小川通夷川下る下丸屋町", "京都市中京区下丸屋町小川通夷川下ル", "6040084"},
        // A city whose towns are its 丁目, the 丁目 in the short form; the number right after
        // the city: its 次に番地がくる場合 entry, before an office at that address.
        {"静岡県下田市１－４－２８", "下田市一丁目4番28号", "4150021"},
        {"高知県吾川郡いの町１３６９", "いの町1369番地", "7812110"},
        // A town written without its 町 where the name ends; 大字 and 字 inside the town.
        {"群馬県太田市大字吉沢３１９－３", "太田市吉沢319番地3", "3730019"},
        {"太田市由良330", "太田市大字由良330", "3730037"},
        {"福島県会津若松市一箕町大字八幡字門田１－１", "会津若松市一箕町八幡門田1-1", "9650003"},
        {"宮城県大崎市鳴子温泉字鷲ノ巣８６番地１", "大崎市鳴子温泉鷲ノ巣86-1", "9896811"},
        {"宮城県黒川郡大和町吉岡字東柴崎６２", "大和町大字吉岡字東柴崎62", "9813621"},
        {"佐賀県嬉野市嬉野町大字下宿乙１１８５", "嬉野市嬉野町下宿乙1185", "8430301"},
        {"周南市岐山通1丁目", "山口県周南市岐山通り一丁目", "7450071"},
        // A designated city without its ward: the ward that has the town; where two wards
        // have it, the one whose note covers the number.
        {"横浜市みなとみらい2-2-1", "神奈川県横浜市みなとみらい二丁目2番1号", "2200012"},
        {"名古屋市名駅1-3-4", "愛知県名古屋市名駅一丁目3番4号", "4530002"},
        {"横浜市どこか5", "神奈川県横浜市どこか", "nothing"},
        // A town with a 丁目 in its name beside the town without it, in the short form.
        {"十日町市本町2-3", "新潟県十日町市本町二丁目3番地", "9480082"},
        {"十日町市本町7-1", "新潟県十日町市本町七丁目1番地", "9480003"},
        // Sapporo's short form of 北1条西25丁目, with its ward or without.
        {"札幌市中央区北1西25-1", "北海道札幌市中央区北一西二十五", "0640821"},
        {"札幌市北1西2", "札幌市中央区北１西２－１", "0600001"},
        // A ward written is never traded for another ward of its city.
        {"京都市上京区堀川通寺之内上る4丁目天神北町1", "京都府京都市上京区堀川通寺之内上ル四丁目天神北町１", "6020000"},
    };
    for (const Written& w : cases) {
        EXPECT_EQ(First(w.one), w.code) << w.one;
        EXPECT_EQ(First(w.other), w.code) << w.other;
    }
}

TEST_F(Address, TheResultSaysHowFarTheAddressWasMatched)
{
    FindResult r = built_->finder->Find(u"東京都千代田区丸の内1-1-1 何とかビル");
    EXPECT_EQ(r.match, FindMatch::Address);
    EXPECT_EQ(r.level, AddressLevel::Number);
    EXPECT_EQ(r.rest, u"何とかビル");
    // A blank ends the house number: a room or floor after it is no part of it.
    r = built_->finder->Find(u"大阪市北区梅田3-1-1 3F");
    EXPECT_EQ(r.level, AddressLevel::Number);
    EXPECT_EQ(r.rest, u"3F");
    r = built_->finder->Find(u"東京都千代田区どこか");
    EXPECT_EQ(r.level, AddressLevel::City);
    // Where the note cannot decide, every candidate comes back.
    r = built_->finder->Find(u"京都市上京区近衛町1");
    EXPECT_EQ(r.total, 2u);
    // Results carry the town proper, the note and the building.
    r = built_->finder->Find(u"丸の内2-7-2 JPタワー30階", 1);
    ASSERT_EQ(r.results.size(), 1u);
    EXPECT_EQ(r.results[0].townWithoutNote, u"丸の内");
    EXPECT_EQ(r.results[0].building, u"ＪＰタワー");
    EXPECT_EQ(r.results[0].floor, u"３０階");
    EXPECT_EQ(r.results[0].noteKind, NoteKind::Floor);
    // A bare town name stays a text search.
    EXPECT_EQ(built_->finder->Find(u"永田町").match, FindMatch::Text);
}

TEST(AddressFile, ReadsBackWhatWasWrittenAndRefusesDamage)
{
    AddressFile f;
    f.prefectures = {{13, u"東京都"}};
    f.cities = {{13101, u"千代田区"}};
    AddressRecord r;
    r.entry = 1;
    r.cityCode = 13101;
    r.kind = NoteKind::Mixed;
    r.town = u"南山";
    r.townKey = u"南山";
    NoteClause numbers{ClauseKind::Numbers, {{-1, -1, 430, -1}, kNoHouseNumber}, {{{-1, -1, 1770, 1}, {-1, -1, 1770, 2}}}, u""};
    NoteClause name{ClauseKind::Name, {{-1, -1, 329, -1}, {-1, -1, 356, -1}}, {}, u"猫屋敷"};
    r.clauses = {numbers, name, NoteClause{ClauseKind::Street, {}, {}, u"室町通出水上ル"}};
    f.records.push_back(r);
    const std::string text = FormatAddressFile(f);
    const AddressFile back = ParseAddressFile(text, PathFromUtf8("住所.TXT"));
    EXPECT_EQ(back.records, f.records);
    EXPECT_EQ(back.cities, f.cities);
    // Cut short, or one bit changed: the checksum on the second line tells.
    std::string flipped = text;
    flipped[flipped.size() - 3] ^= 1;
    for (const std::string& damaged : {text.substr(0, text.size() - 5), flipped}) {
        try {
            ParseAddressFile(damaged, PathFromUtf8("住所.TXT"));
            ADD_FAILURE() << "a damaged file was read";
        } catch (const DirectoryError& e) {
            EXPECT_NE(std::string(e.what()).find("住所.TXT: line 2: is damaged"), std::string::npos) << e.what();
        }
    }
}

// A notes file of gigabytes (sparse, so that it costs no disk) is refused by its size at once,
// naming it, rather than scanned.
TEST(AddressFile, AHugeNotesFileIsRefusedWithoutReadingIt)
{
    test::TempDir t;
    const std::filesystem::path file = t.path() / PathFromUtf8("住所.TXT");
    test::WriteBytes(file, "ubin-build address notes 1\n");
    std::error_code ec;
    std::filesystem::resize_file(file, std::uintmax_t{64} << 30, ec);
    if (ec) std::filesystem::resize_file(file, std::uintmax_t{300} << 20); // where sparse files are not to be had
    try {
        ReadAddressFile(file);
        ADD_FAILURE() << "a huge file was read";
    } catch (const DirectoryError& e) {
        EXPECT_NE(std::string(e.what()).find("住所.TXT: is "), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("not a file ubin-build wrote"), std::string::npos) << e.what();
    }
}
