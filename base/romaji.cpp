#include "base/romaji.h"

#include "base/cp932.h"
#include "base/normalize.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace ubin {

namespace {

// The syllable table, one row per kana. The romanization is modified Hepburn with long vowels
// omitted, as on road signs and station boards (Tokyo, Chuo, Osaka): it is what HepburnOf
// writes and one spelling KanaFromRomaji reads. The other spellings are the ones people type
// kana with on a keyboard (Kunrei-style si, tu, zi, tyu; x and l for small kana; wo for ヲ).
// Where two rows share a spelling (ji for ジ and ヂ, o for オ and ヲ, ti for チ and ティ), the
// first row is what KanaFromRomaji reads. ン and ッ depend on their neighbours and are written
// by code: ン is n (n' before a vowel or y; nn, n' and n before a consonant are read as ン,
// and m before b, m, p too), ッ doubles the next consonant (tch for ッチ).
struct Syllable {
    const char16_t* kana;
    const char* hepburn;
    const char* others; // keyboard spellings, separated by blanks
};

constexpr Syllable kSyllables[] = {
    {u"ア", "a", ""},      {u"イ", "i", ""},      {u"ウ", "u", ""},       {u"エ", "e", ""},      {u"オ", "o", ""},
    {u"カ", "ka", "ca"},   {u"キ", "ki", ""},     {u"ク", "ku", "cu"},    {u"ケ", "ke", ""},     {u"コ", "ko", "co"},
    {u"サ", "sa", ""},     {u"シ", "shi", "si ci"}, {u"ス", "su", ""},    {u"セ", "se", "ce"},   {u"ソ", "so", ""},
    {u"タ", "ta", ""},     {u"チ", "chi", "ti"},  {u"ツ", "tsu", "tu"},   {u"テ", "te", ""},     {u"ト", "to", ""},
    {u"ナ", "na", ""},     {u"ニ", "ni", ""},     {u"ヌ", "nu", ""},      {u"ネ", "ne", ""},     {u"ノ", "no", ""},
    {u"ハ", "ha", ""},     {u"ヒ", "hi", ""},     {u"フ", "fu", "hu"},    {u"ヘ", "he", ""},     {u"ホ", "ho", ""},
    {u"マ", "ma", ""},     {u"ミ", "mi", ""},     {u"ム", "mu", ""},      {u"メ", "me", ""},     {u"モ", "mo", ""},
    {u"ヤ", "ya", ""},     {u"ユ", "yu", ""},     {u"ヨ", "yo", ""},
    {u"ラ", "ra", ""},     {u"リ", "ri", ""},     {u"ル", "ru", ""},      {u"レ", "re", ""},     {u"ロ", "ro", ""},
    {u"ワ", "wa", ""},     {u"ヲ", "o", "wo"},
    {u"ガ", "ga", ""},     {u"ギ", "gi", ""},     {u"グ", "gu", ""},      {u"ゲ", "ge", ""},     {u"ゴ", "go", ""},
    {u"ザ", "za", ""},     {u"ジ", "ji", "zi"},   {u"ズ", "zu", ""},      {u"ゼ", "ze", ""},     {u"ゾ", "zo", ""},
    {u"ダ", "da", ""},     {u"ヂ", "ji", "di"},   {u"ヅ", "zu", "du dzu"}, {u"デ", "de", ""},    {u"ド", "do", ""},
    {u"バ", "ba", ""},     {u"ビ", "bi", ""},     {u"ブ", "bu", ""},      {u"ベ", "be", ""},     {u"ボ", "bo", ""},
    {u"パ", "pa", ""},     {u"ピ", "pi", ""},     {u"プ", "pu", ""},      {u"ペ", "pe", ""},     {u"ポ", "po", ""},
    {u"ヴ", "vu", ""},
    // Yōon and the newer combinations.
    {u"キャ", "kya", ""},  {u"キュ", "kyu", ""},  {u"キョ", "kyo", ""},   {u"キェ", "kye", ""},
    {u"シャ", "sha", "sya"}, {u"シュ", "shu", "syu"}, {u"ショ", "sho", "syo"}, {u"シェ", "she", "sye"},
    {u"チャ", "cha", "tya cya"}, {u"チュ", "chu", "tyu cyu"}, {u"チョ", "cho", "tyo cyo"}, {u"チェ", "che", "tye cye"},
    {u"ニャ", "nya", ""},  {u"ニュ", "nyu", ""},  {u"ニョ", "nyo", ""},
    {u"ヒャ", "hya", ""},  {u"ヒュ", "hyu", ""},  {u"ヒョ", "hyo", ""},
    {u"ミャ", "mya", ""},  {u"ミュ", "myu", ""},  {u"ミョ", "myo", ""},
    {u"リャ", "rya", ""},  {u"リュ", "ryu", ""},  {u"リョ", "ryo", ""},
    {u"ギャ", "gya", ""},  {u"ギュ", "gyu", ""},  {u"ギョ", "gyo", ""},
    {u"ジャ", "ja", "zya jya"}, {u"ジュ", "ju", "zyu jyu"}, {u"ジョ", "jo", "zyo jyo"}, {u"ジェ", "je", "zye jye"},
    {u"ヂャ", "ja", "dya"}, {u"ヂュ", "ju", "dyu"}, {u"ヂョ", "jo", "dyo"},
    {u"ビャ", "bya", ""},  {u"ビュ", "byu", ""},  {u"ビョ", "byo", ""},
    {u"ピャ", "pya", ""},  {u"ピュ", "pyu", ""},  {u"ピョ", "pyo", ""},
    {u"ファ", "fa", ""},   {u"フィ", "fi", ""},   {u"フェ", "fe", ""},    {u"フォ", "fo", ""},   {u"フュ", "fyu", ""},
    {u"ウィ", "wi", ""},   {u"ウェ", "we", ""},   {u"ウォ", "who", ""},
    {u"ティ", "ti", "thi"}, {u"ディ", "di", "dhi"}, {u"トゥ", "tu", "twu"}, {u"ドゥ", "du", "dwu"},
    {u"テュ", "tyu", "thu"}, {u"デュ", "dyu", "dhu"},
    {u"ツァ", "tsa", ""},  {u"ツィ", "tsi", ""},  {u"ツェ", "tse", ""},   {u"ツォ", "tso", ""},
    {u"イェ", "ye", ""},
    {u"ヴァ", "va", ""},   {u"ヴィ", "vi", ""},   {u"ヴェ", "ve", ""},    {u"ヴォ", "vo", ""},
    // Small kana alone, and the old ヰ ヱ.
    {u"ァ", "a", "xa la"}, {u"ィ", "i", "xi li"}, {u"ゥ", "u", "xu lu"},  {u"ェ", "e", "xe le"}, {u"ォ", "o", "xo lo"},
    {u"ャ", "ya", "xya lya"}, {u"ュ", "yu", "xyu lyu"}, {u"ョ", "yo", "xyo lyo"},
    {u"ッ", "", "xtu ltu xtsu ltsu"}, {u"ヮ", "wa", "xwa lwa"}, {u"ヵ", "ka", "xka lka"}, {u"ヶ", "ke", "xke lke"},
    {u"ヰ", "i", ""},      {u"ヱ", "e", ""},
};
constexpr std::size_t kLongestSpelling = 4; // xtsu

struct Tables {
    std::unordered_map<std::string, std::u16string> kanaOf;    // spelling -> kana
    std::unordered_map<std::u16string, std::string> hepburnOf; // kana -> Hepburn
};

const Tables& SyllableTables()
{
    static const Tables tables = [] {
        Tables t;
        for (const Syllable& s : kSyllables) {
            // emplace keeps the first row of a shared spelling.
            if (*s.hepburn) t.kanaOf.emplace(s.hepburn, s.kana);
            std::string_view others = s.others;
            while (!others.empty()) {
                const std::size_t blank = std::min(others.find(' '), others.size());
                t.kanaOf.emplace(std::string(others.substr(0, blank)), s.kana);
                others.remove_prefix(std::min(blank + 1, others.size()));
            }
            t.hepburnOf.emplace(s.kana, s.hepburn);
        }
        return t;
    }();
    return tables;
}

bool IsVowel(char c) { return c == 'a' || c == 'i' || c == 'u' || c == 'e' || c == 'o'; }

// The lower-case letters a character stands for: "" for a separator, nullopt for a character
// that is no part of romaji.
std::optional<std::string> LettersOf(char16_t c)
{
    if (c >= u'a' && c <= u'z') return std::string(1, static_cast<char>(c));
    if (c >= u'A' && c <= u'Z') return std::string(1, static_cast<char>(c - u'A' + u'a'));
    if (c == u' ' || c == u'-' || c == u'\'' || c == u'’' || c == u'‐') return std::string();
    // Long vowels with a macron or a circumflex: ō is ou, the others the vowel twice.
    static constexpr struct { char16_t lower, upper, circumflex, circumflexUpper; const char* letters; } kLong[] = {
        {u'ā', u'Ā', u'â', u'Â', "aa"}, {u'ī', u'Ī', u'î', u'Î', "ii"}, {u'ū', u'Ū', u'û', u'Û', "uu"},
        {u'ē', u'Ē', u'ê', u'Ê', "ee"}, {u'ō', u'Ō', u'ô', u'Ô', "ou"},
    };
    for (const auto& v : kLong)
        if (c == v.lower || c == v.upper || c == v.circumflex || c == v.circumflexUpper) return std::string(v.letters);
    return std::nullopt;
}

// The text as lower-case letters with a blank where any separator stood.
std::optional<std::string> Letters(std::u16string_view text)
{
    std::string letters;
    for (char16_t c : Nfkc(text)) {
        std::optional<std::string> l = LettersOf(c);
        if (!l) return std::nullopt;
        letters += l->empty() ? std::string(" ") : *l;
    }
    return letters;
}

// A consonant whose doubling is read as ッ (n and m are read as ン instead).
bool DoublesAsSokuon(char c) { return std::string_view("bcdfghjkprstvwyz").find(c) != std::string_view::npos; }

// The kana of a syllable-sized spelling at letters[i], and how many letters it takes.
std::size_t SyllableAt(const std::string& letters, std::size_t i, std::u16string& out)
{
    const auto& kanaOf = SyllableTables().kanaOf;
    for (std::size_t n = std::min(kLongestSpelling, letters.size() - i); n > 0; --n) {
        auto found = kanaOf.find(letters.substr(i, n));
        if (found == kanaOf.end()) continue;
        out += found->second;
        return n;
    }
    return 0;
}

// ン for n or m at letters[i]: how many letters it takes, 0 when they spell no ン.
std::size_t NasalAt(const std::string& letters, std::size_t i)
{
    const char next = i + 1 < letters.size() ? letters[i + 1] : ' ';
    if (letters[i] == 'm') return next == 'b' || next == 'm' || next == 'p' ? 1 : 0;
    if (letters[i] != 'n') return 0;
    if (next == 'n') {
        // "onna" is オンナ as Hepburn writes it; "nn" before anything else is the typed ン.
        const char after = i + 2 < letters.size() ? letters[i + 2] : ' ';
        return IsVowel(after) || after == 'y' ? 1 : 2;
    }
    return IsVowel(next) || next == 'y' ? 0 : 1;
}

} // namespace

std::optional<std::u16string> KanaFromRomaji(std::u16string_view text)
{
    const std::optional<std::string> letters = Letters(text);
    if (!letters || letters->find_first_not_of(' ') == std::string::npos) return std::nullopt;
    std::u16string kana;
    const std::string& s = *letters;
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == ' ') {
            ++i;
        } else if (std::size_t n = NasalAt(s, i)) {
            kana += u'ン';
            i += n;
        } else if (i + 1 < s.size() && ((s[i] == s[i + 1] && DoublesAsSokuon(s[i])) ||
                                        (s[i] == 't' && s.compare(i + 1, 2, "ch") == 0))) {
            kana += u'ッ';
            ++i;
        } else if (std::size_t taken = SyllableAt(s, i, kana)) {
            i += taken;
        } else {
            return std::nullopt;
        }
    }
    return kana;
}

namespace {

bool EndsInO(char16_t c) { return std::u16string_view(u"オコゴソゾトドノホボポモヨョロヲォ").find(c) != std::u16string_view::npos; }
bool EndsInU(char16_t c) { return std::u16string_view(u"ウクグスズツヅヌフブプムユュルヴゥ").find(c) != std::u16string_view::npos; }

// A kana and, after an o or u, the long vowel it is written with now and may be written with.
struct Unit {
    char16_t kana;
    std::u16string_view current;           // "" or the ウ/オ that follows in the text
    std::vector<std::u16string_view> ways; // current first
};

std::vector<Unit> Units(std::u16string_view kana)
{
    std::vector<Unit> units;
    for (std::size_t i = 0; i < kana.size(); ++i) {
        Unit u{kana[i], {}, {}};
        const bool o = EndsInO(kana[i]), isU = EndsInU(kana[i]);
        if (o || isU) {
            const char16_t next = i + 1 < kana.size() ? kana[i + 1] : 0;
            if (next == u'ウ' || (o && next == u'オ')) {
                u.current = next == u'ウ' ? u"ウ" : u"オ";
                ++i;
            }
            u.ways.push_back(u.current);
            for (std::u16string_view way : o ? std::vector<std::u16string_view>{u"", u"ウ", u"オ"}
                                             : std::vector<std::u16string_view>{u"", u"ウ"})
                if (way != u.current) u.ways.push_back(way);
        }
        units.push_back(std::move(u));
    }
    return units;
}

// Fills forms with the texts that change exactly `changes` units from unit `from` on, in
// order, until it holds `most`.
void FormsWithChanges(const std::vector<Unit>& units, std::vector<std::size_t>& choice, std::size_t from,
                      std::size_t changes, std::size_t most, std::vector<std::u16string>& forms,
                      std::unordered_set<std::u16string>& seen)
{
    if (forms.size() >= most) return;
    if (changes == 0) {
        std::u16string form;
        for (std::size_t i = 0; i < units.size(); ++i) {
            form += units[i].kana;
            if (!units[i].ways.empty()) form += units[i].ways[choice[i]];
        }
        if (seen.insert(form).second) forms.push_back(std::move(form));
        return;
    }
    for (std::size_t i = from; i < units.size() && forms.size() < most; ++i) {
        for (std::size_t way = 1; way < units[i].ways.size(); ++way) {
            choice[i] = way;
            FormsWithChanges(units, choice, i + 1, changes - 1, most, forms, seen);
        }
        choice[i] = 0;
    }
}

} // namespace

std::vector<std::u16string> LongVowelForms(std::u16string_view kana, std::size_t most)
{
    const std::vector<Unit> units = Units(kana);
    const std::size_t slots =
        static_cast<std::size_t>(std::count_if(units.begin(), units.end(), [](const Unit& u) { return !u.ways.empty(); }));
    std::vector<std::u16string> forms;
    std::unordered_set<std::u16string> seen;
    std::vector<std::size_t> choice(units.size(), 0);
    for (std::size_t changes = 0; changes <= slots && forms.size() < most; ++changes)
        FormsWithChanges(units, choice, 0, changes, most, forms, seen);
    return forms;
}

namespace {

// A reading as full-width katakana, its notes in parentheses left out.
std::u16string KatakanaWithoutNotes(std::u16string_view text)
{
    std::u16string out;
    int depth = 0;
    for (char16_t c : Nfkc(text)) {
        if (c == u'(') ++depth;
        else if (c == u')') depth = std::max(0, depth - 1);
        else if (depth == 0) out += (c >= 0x3041 && c <= 0x3096) ? static_cast<char16_t>(c + 0x60) : c;
    }
    return out;
}

// The Hepburn of the syllable at kana[i] and how many characters it takes; 0 when none.
std::size_t HepburnAt(std::u16string_view kana, std::size_t i, std::string& out)
{
    const auto& hepburnOf = SyllableTables().hepburnOf;
    for (std::size_t n = std::min<std::size_t>(2, kana.size() - i); n > 0; --n) {
        auto found = hepburnOf.find(std::u16string(kana.substr(i, n)));
        if (found == hepburnOf.end()) continue;
        out = found->second;
        return n;
    }
    return 0;
}

} // namespace

std::string HepburnOf(std::u16string_view reading)
{
    const std::u16string kana = KatakanaWithoutNotes(reading);
    std::string out;
    char lastVowel = 0; // of the syllable just written, for the long vowel that may follow
    for (std::size_t i = 0; i < kana.size();) {
        const char16_t c = kana[i];
        std::string next;
        const bool longVowel = ((c == u'ウ' && (lastVowel == 'o' || lastVowel == 'u')) || (c == u'オ' && lastVowel == 'o')) &&
                               HepburnAt(kana, i, next) == 1; // not ウェ of スウェーデン
        if (c == u'ー' || longVowel) {
            // A long vowel before a vowel that could lengthen the same syllable is written, so
            // that the two stay apart when the text is read back (チョウオ chouo, not choo, which
            // reads as チョオ; チュウオウ is still chuo).
            const char16_t after = i + 1 < kana.size() ? kana[i + 1] : 0;
            if (longVowel && (after == u'ウ' || (lastVowel == 'o' && after == u'オ'))) out += c == u'ウ' ? 'u' : 'o';
            lastVowel = 0; // one long vowel per syllable: オウウ is ou
            ++i;
        } else if (c == u'ン') {
            const std::size_t taken = i + 1 < kana.size() ? HepburnAt(kana, i + 1, next) : 0;
            out += taken && !next.empty() && (IsVowel(next[0]) || next[0] == 'y') ? "n'" : "n";
            lastVowel = 0;
            ++i;
        } else if (c == u'ッ') {
            if (i + 1 < kana.size() && HepburnAt(kana, i + 1, next) && !next.empty() && !IsVowel(next[0]))
                out += next.compare(0, 2, "ch") == 0 ? 't' : next[0];
            lastVowel = 0;
            ++i;
        } else if (std::size_t taken = HepburnAt(kana, i, next)) {
            out += next;
            lastVowel = next.empty() ? 0 : next.back();
            i += taken;
        } else {
            out += ToUtf8(kana.substr(i, 1));
            lastVowel = 0;
            ++i;
        }
    }
    return out;
}

namespace {

// Each word's first letter in upper case; a suffix after a hyphen stays lower (Chuo-ku).
std::string Capitalized(std::string text)
{
    bool start = true;
    for (char& c : text) {
        if (start && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        start = c == ' ';
    }
    return text;
}

bool EndsWith(std::u16string_view text, std::u16string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// One word of a city: its reading romanized, a hyphen before the suffix its name ends in.
std::string CityWord(std::u16string_view kana, std::u16string_view name)
{
    static constexpr struct { char16_t kanji; const char16_t* reading; } kSuffixes[] = {
        {u'市', u"シ"}, {u'区', u"ク"}, {u'町', u"チョウ"}, {u'町', u"マチ"},
        {u'村', u"ムラ"}, {u'村', u"ソン"}, {u'郡', u"グン"},
    };
    for (const auto& s : kSuffixes) {
        const std::u16string_view reading = s.reading;
        if (!name.empty() && name.back() == s.kanji && kana.size() > reading.size() && EndsWith(kana, reading))
            return HepburnOf(kana.substr(0, kana.size() - reading.size())) + "-" + HepburnOf(reading);
    }
    return HepburnOf(kana);
}

// Where the reading of a ward of a designated city (札幌市中央区) splits into the city's and
// the ward's: at the シ whose two sides come nearest to the same kana per kanji, since the
// reading alone cannot tell 広島市 ヒロシマシ from ヒロシ. npos when the name is not such a ward.
std::size_t WardSplit(std::u16string_view kana, std::u16string_view name)
{
    const std::size_t shi = name.size() > 2 ? name.rfind(u'市', name.size() - 2) : std::u16string_view::npos;
    if (shi == std::u16string_view::npos || shi == 0 || name.back() != u'区') return std::u16string_view::npos;
    std::size_t best = std::u16string_view::npos;
    double bestGap = 0;
    for (std::size_t p = 1; p + 2 < kana.size(); ++p) {
        if (kana[p] != u'シ' || std::u16string_view(u"ァィゥェォャュョッンー").find(kana[p + 1]) != std::u16string_view::npos)
            continue;
        const double gap = std::abs(static_cast<double>(p) / static_cast<double>(shi) -
                                    static_cast<double>(kana.size() - p - 1) / static_cast<double>(name.size() - shi - 1));
        if (best == std::u16string_view::npos || gap < bestGap) best = p, bestGap = gap;
    }
    return best;
}

std::string CityPart(std::u16string_view kana, std::u16string_view name)
{
    if (const std::size_t split = WardSplit(kana, name); split != std::u16string_view::npos)
        return CityWord(kana.substr(0, split + 1), name.substr(0, name.rfind(u'市', name.size() - 2) + 1)) + " " +
               CityWord(kana.substr(split + 1), name.substr(name.rfind(u'市', name.size() - 2) + 1));
    // A town in a county is written with its county: 夕張郡長沼町 is Yubari-gun Naganuma-cho.
    const std::size_t gun = name.find(u'郡');
    const std::size_t gunKana = kana.find(u"グン");
    if (gun != std::u16string_view::npos && gun + 1 < name.size() && gunKana != std::u16string_view::npos &&
        gunKana > 0 && gunKana + 2 < kana.size())
        return CityWord(kana.substr(0, gunKana + 2), name.substr(0, gun + 1)) + " " +
               CityWord(kana.substr(gunKana + 2), name.substr(gun + 1));
    return CityWord(kana, name);
}

std::string PrefecturePart(std::u16string_view kana, std::u16string_view name)
{
    static constexpr struct { char16_t kanji; const char16_t* reading; } kSuffixes[] = {
        {u'都', u"ト"}, {u'府', u"フ"}, {u'県', u"ケン"},
    };
    for (const auto& s : kSuffixes) {
        const std::u16string_view reading = s.reading;
        if (!name.empty() && name.back() == s.kanji && kana.size() > reading.size() && EndsWith(kana, reading))
            return HepburnOf(kana.substr(0, kana.size() - reading.size()));
    }
    return HepburnOf(kana);
}

} // namespace

std::string RomanizedAddress(std::u16string_view prefectureKana, std::u16string_view prefecture,
                             std::u16string_view cityKana, std::u16string_view city,
                             std::u16string_view townKana, std::u16string_view town)
{
    (void)town; // a town's name carries no suffix its Latin form shows
    const std::string parts[] = {
        HepburnOf(townKana),
        CityPart(KatakanaWithoutNotes(cityKana), city),
        PrefecturePart(KatakanaWithoutNotes(prefectureKana), prefecture),
    };
    std::string out;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!out.empty()) out.append(", ");
        out.append(Capitalized(part));
    }
    return out;
}

} // namespace ubin
