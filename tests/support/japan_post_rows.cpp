#include "tests/support/japan_post_rows.h"

#include "base/cp932.h"

namespace ubin::test {

namespace {

std::string Quoted(const std::string& v) { return "\"" + v + "\""; }

} // namespace

std::string Cp932(const std::string& utf8) { return EncodeCp932(FromUtf8(utf8)); }

std::string KenAllText(const std::vector<KenAllRow>& rows)
{
    std::string text;
    for (const KenAllRow& r : rows)
        text += r.code + "," + Quoted(r.postal.substr(0, 5)) + "," + Quoted(r.postal) + "," + Quoted(r.prefKana) + ","
                + Quoted(r.cityKana) + "," + Quoted(r.townKana) + "," + Quoted(r.pref) + "," + Quoted(r.city) + ","
                + Quoted(r.town) + ",0,0,0,0,0,0\r\n";
    return EncodeCp932(FromUtf8(text));
}

std::string JigyosyoText(const std::vector<JigyosyoRow>& rows)
{
    std::string text;
    for (const JigyosyoRow& r : rows)
        text += r.code + "," + Quoted(r.kana) + "," + Quoted(r.name) + "," + Quoted(r.pref) + "," + Quoted(r.city) + ","
                + Quoted(r.town) + "," + Quoted(r.street) + "," + Quoted(r.postal) + "," + Quoted(r.postal.substr(0, 3) + "  ")
                + "," + Quoted("") + "," + r.kind + ",0,0\r\n";
    return EncodeCp932(FromUtf8(text));
}

} // namespace ubin::test
