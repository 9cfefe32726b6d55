#include "directory/address_file.h"

#include "base/cp932.h"
#include "base/checksum.h"
#include "base/errors.h"
#include "base/file.h"
#include "base/path_text.h"

#include <charconv>
#include <filesystem>
#include <iterator>

namespace ubin {

const std::u16string kAddressFileName = u"住所.TXT";

namespace {

constexpr std::string_view kFirstLine = "ubin-build address notes 1";
constexpr std::string_view kSumWord = "xxh3 ";
constexpr std::size_t kRecordFields = 12;

constexpr const char* kKindNames[] = {"none",     "rest_of_city", "number_first", "whole_city",
                                      "floor",    "except_buildings", "numbers",  "streets",
                                      "subareas", "mixed",        "plain"};

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

bool ParseInt(std::string_view text, std::int32_t& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

// A house number as its four parts with commas, a missing part empty: ",1,," is 1丁目.
std::string FormatNumber(const HouseNumber& n)
{
    std::string out;
    for (int i = 0; i < kNumberLevels; ++i) {
        if (i > 0) out += ',';
        if (n[i] != kNoNumber) out += std::to_string(n[i]);
    }
    return out;
}

bool ParseHouseNumber(std::string_view text, HouseNumber& n)
{
    const auto parts = Split(text, ',');
    if (parts.size() != kNumberLevels) return false;
    for (int i = 0; i < kNumberLevels; ++i) {
        n[i] = kNoNumber;
        if (!parts[i].empty() && (!ParseInt(parts[i], n[i]) || n[i] < 0)) return false;
    }
    return true;
}

std::string FormatRange(const NumberRange& r) { return FormatNumber(r.low) + "/" + FormatNumber(r.high); }

bool ParseRange(std::string_view text, NumberRange& r)
{
    const auto parts = Split(text, '/');
    return parts.size() == 2 && ParseHouseNumber(parts[0], r.low) && ParseHouseNumber(parts[1], r.high);
}

// A clause as one letter and its text: N<range>[!<range>...], S<street>, A<name>, O, C, B,
// P<words>; clauses are joined with '|', which no key holds.
std::string FormatClause(const NoteClause& c)
{
    // Appended piece by piece: "N" + text trips a false alarm of GCC 12's -Wrestrict.
    std::string out;
    const auto ranges = [&](char lead) {
        out.push_back(lead);
        out.append(FormatRange(c.range));
        for (const NumberRange& e : c.except) out.append("!").append(FormatRange(e));
    };
    switch (c.kind) {
    case ClauseKind::Numbers: ranges('N'); return out;
    case ClauseKind::Street: return out.append("S").append(ToUtf8(c.key));
    case ClauseKind::Name:
        // A name with the numbers it holds: A<name>#<range>[!<range>...].
        out.append("A").append(ToUtf8(c.key));
        if (c.range != NumberRange{} || !c.except.empty()) ranges('#');
        return out;
    case ClauseKind::Others: return "O";
    case ClauseKind::AnyChome: return "C";
    case ClauseKind::AnyBanchi: return "B";
    case ClauseKind::Plain: return out.append("P").append(ToUtf8(c.key));
    }
    return "P";
}

// A range and its exceptions: <low>/<high>[!<low>/<high>...].
bool ParseRanges(std::string_view text, NoteClause& c)
{
    const auto parts = Split(text, '!');
    if (!ParseRange(parts[0], c.range)) return false;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        NumberRange e;
        if (!ParseRange(parts[i], e)) return false;
        c.except.push_back(e);
    }
    return true;
}

bool ParseClause(std::string_view text, NoteClause& c)
{
    if (text.empty()) return false;
    const std::string_view rest = text.substr(1);
    switch (text[0]) {
    case 'N': c.kind = ClauseKind::Numbers; return ParseRanges(rest, c);
    case 'S': c.kind = ClauseKind::Street; break;
    case 'A': {
        c.kind = ClauseKind::Name;
        const std::size_t hash = rest.find('#');
        c.key = FromUtf8(rest.substr(0, hash));
        return hash == std::string_view::npos || ParseRanges(rest.substr(hash + 1), c);
    }
    case 'P': c.kind = ClauseKind::Plain; break;
    case 'O': c.kind = ClauseKind::Others; return rest.empty();
    case 'C': c.kind = ClauseKind::AnyChome; return rest.empty();
    case 'B': c.kind = ClauseKind::AnyBanchi; return rest.empty();
    default: return false;
    }
    c.key = FromUtf8(rest);
    return true;
}

void CheckText(const std::u16string& text)
{
    for (const char16_t c : text)
        if (c == u'\t' || c == u'\n' || c == u'\r' || c == u'|' || c == u'#')
            throw DirectoryError("an address note holds a tab, a line break, '|' or '#': " + ToUtf8(text));
}

[[noreturn]] void Fail(const std::filesystem::path& file, std::size_t line, const std::string& reason)
{
    throw DirectoryError(PathToUtf8(file) + ": line " + std::to_string(line) + ": " + reason);
}

} // namespace

bool PlainlyWithoutNote(std::u16string_view town, std::u16string_view detail)
{
    return detail.empty() && town != kRestOfCityTown && town.find(u"の次に") == std::u16string_view::npos
           && !town.ends_with(u"一円");
}

std::u16string StreetForm(std::u16string_view nameForm)
{
    // The name form has turned る into ル already: 入ル and 入る are both 入ル here.
    std::u16string out;
    out.reserve(nameForm.size());
    for (const char16_t c : nameForm)
        if (!(c == u'ル' && !out.empty() && out.back() == u'入')) out.push_back(c);
    return out;
}

bool IsBuildingSeparator(char16_t c) { return c == u'・' || c == u'･' || c == u' ' || c == u'　'; }

std::u16string BuildingForm(std::u16string_view nameForm)
{
    std::u16string out;
    for (const char16_t c : nameForm)
        if (!IsBuildingSeparator(c)) out.push_back(c);
    return out;
}

const char* NoteKindName(NoteKind kind) { return kKindNames[static_cast<int>(kind)]; }

bool ParseNoteKind(std::string_view name, NoteKind& kind)
{
    for (std::size_t i = 0; i < std::size(kKindNames); ++i)
        if (name == kKindNames[i]) {
            kind = static_cast<NoteKind>(i);
            return true;
        }
    return false;
}

std::string FormatAddressFile(const AddressFile& file)
{
    std::string out;
    for (const AddressArea& p : file.prefectures) out += "P\t" + std::to_string(p.code) + "\t" + ToUtf8(p.name) + "\n";
    for (const AddressArea& c : file.cities) out += "C\t" + std::to_string(c.code) + "\t" + ToUtf8(c.name) + "\n";
    for (const AddressRecord& r : file.records) {
        for (const std::u16string* text : {&r.town, &r.townKey, &r.building, &r.buildingKey, &r.floorText, &r.note})
            CheckText(*text);
        std::string clauses;
        for (const NoteClause& c : r.clauses) {
            CheckText(c.key);
            if (!clauses.empty()) clauses += '|';
            clauses += FormatClause(c);
        }
        out += "E\t" + std::to_string(r.entry) + "\t" + std::to_string(r.cityCode) + "\t" + NoteKindName(r.kind) + "\t"
               + ToUtf8(r.town) + "\t" + ToUtf8(r.townKey) + "\t" + ToUtf8(r.building) + "\t" + ToUtf8(r.buildingKey)
               + "\t" + std::to_string(r.floor) + "\t" + ToUtf8(r.floorText) + "\t" + ToUtf8(r.note) + "\t" + clauses
               + "\n";
    }
    // The second line holds the checksum of every line after it: the file says itself when it
    // was damaged, with or without the folder's manifest.
    std::string head(kFirstLine);
    head.append("\n").append(kSumWord).append(Xxh3Hex(Xxh3Of(out))).append("\n");
    return head + out;
}

AddressFile ParseAddressFile(std::string_view text, const std::filesystem::path& file)
{
    AddressFile out;
    std::size_t lineNo = 2;
    // The first line names the file, the second the checksum of the rest.
    const std::size_t firstEnd = text.find('\n');
    if (firstEnd == std::string_view::npos || text.substr(0, firstEnd) != kFirstLine)
        Fail(file, 1, "is not an address notes file of this version");
    const std::size_t sumEnd = text.find('\n', firstEnd + 1);
    const std::string_view sumLine = text.substr(firstEnd + 1, sumEnd == std::string_view::npos ? sumEnd : sumEnd - firstEnd - 1);
    if (sumEnd == std::string_view::npos || !sumLine.starts_with(kSumWord)) Fail(file, 2, "has no checksum line");
    text.remove_prefix(sumEnd + 1);
    if (sumLine.substr(kSumWord.size()) != Xxh3Hex(Xxh3Of(text)))
        Fail(file, 2, "is damaged: its checksum does not match its lines (build the directory again)");
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) Fail(file, lineNo + 1, "the file ends inside a line (cut short?)");
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        ++lineNo;
        const auto f = Split(line, '\t');
        if ((f[0] == "P" || f[0] == "C") && f.size() == 3) {
            AddressArea a;
            if (!ParseInt(f[1], a.code)) Fail(file, lineNo, "the area code is not a number");
            a.name = FromUtf8(f[2]);
            (f[0] == "P" ? out.prefectures : out.cities).push_back(std::move(a));
            continue;
        }
        if (f[0] != "E" || f.size() != kRecordFields) Fail(file, lineNo, "is not a prefecture, city or entry line");
        AddressRecord r;
        if (!ParseInt(f[1], r.entry) || r.entry != static_cast<std::int32_t>(out.records.size() + 1))
            Fail(file, lineNo, "the entry number is not the next one");
        if (!ParseInt(f[2], r.cityCode)) Fail(file, lineNo, "the municipal code is not a number");
        if (!ParseNoteKind(f[3], r.kind)) Fail(file, lineNo, "the note kind is unknown");
        r.town = FromUtf8(f[4]);
        r.townKey = FromUtf8(f[5]);
        r.building = FromUtf8(f[6]);
        r.buildingKey = FromUtf8(f[7]);
        if (!ParseInt(f[8], r.floor)) Fail(file, lineNo, "the floor is not a number");
        r.floorText = FromUtf8(f[9]);
        r.note = FromUtf8(f[10]);
        if (!f[11].empty())
            for (const std::string_view c : Split(f[11], '|')) {
                NoteClause clause;
                if (!ParseClause(c, clause)) Fail(file, lineNo, "a note clause cannot be read");
                r.clauses.push_back(std::move(clause));
            }
        out.records.push_back(std::move(r));
    }
    return out;
}

AddressFile ReadAddressFile(const std::filesystem::path& file)
{
    // The notes of every entry of KEN_ALL take about 15 MB: a file many times that size is no
    // file ubin-build wrote (a sparse file of gigabytes would take seconds to scan), and is
    // refused before a byte of it is read.
    constexpr std::uintmax_t kMostBytes = std::uintmax_t{256} << 20;
    std::error_code ec;
    if (const std::uintmax_t size = std::filesystem::file_size(file, ec); !ec && size > kMostBytes)
        throw DirectoryError(PathToUtf8(file) + ": is " + std::to_string(size) + " bytes, more than address notes take ("
                             + std::to_string(kMostBytes >> 20) + " MB): not a file ubin-build wrote");
    // Mapped: only a regular file is read, never a pipe or a device.
    const platform::MappedFile map(file);
    const auto bytes = map.bytes();
    return ParseAddressFile(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), file);
}

} // namespace ubin
