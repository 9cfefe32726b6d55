#include "present/reasons.h"

#include <utility>

namespace ubin {

namespace {

const std::vector<ReasonInfo> kReasons = {
    {Reason::NotFound, "not_found", "郵便番号が見つかりませんでした。", true},
    {Reason::PostalCode, "postal_code", "郵便番号として引きました。", false},
    {Reason::PostalPrefix, "postal_prefix", "郵便番号の先頭の数字だけで引きました。", true},
    {Reason::CodeManyTowns, "code_many_towns", "この郵便番号には町域が複数あり、最初の町域を示しました。", false},
    {Reason::Reading, "reading", "読み（かな・ローマ字）で引きました。", false},
    {Reason::NameText, "name_text", "住所としてではなく名前の一部として引きました。", false},
    {Reason::OfficeName, "office_name", "事業所名で見つけました。", false},
    {Reason::OfficeCode, "office_code", "事業所の個別の郵便番号です。", false},
    {Reason::PoBox, "po_box", "私書箱の郵便番号です。", false},
    {Reason::NoteMatched, "note_matched", "町域の但し書き（番地・通り名・小字）で選びました。", false},
    {Reason::BuildingMatched, "building_matched", "ビル名と階で選びました。", false},
    {Reason::WholeCity, "whole_city", "市区町村の全域が一つの郵便番号です。", false},
    {Reason::NumberAfterCity, "number_after_city", "町域がなく、市区町村名の次に番地が続く地域です。", false},
    {Reason::CityCatchAll, "city_catch_all", "町域が見つからないため、市区町村の「以下に掲載がない場合」を選びました。", true},
    {Reason::TownNotFound, "town_not_found", "町域が見つかりませんでした。", true},
    {Reason::WardUnknown, "ward_unknown", "政令指定都市の区が書かれておらず、どの区の町域か分かりません。", true},
    {Reason::PrefectureOmitted, "prefecture_omitted", "都道府県が書かれていません。", false},
    {Reason::CityOmitted, "city_omitted", "市区町村が書かれておらず、町域名から選びました。", false},
    {Reason::WardOmitted, "ward_omitted", "政令指定都市の区が書かれていません。", false},
    {Reason::CountyRestored, "county_restored", "郡が書かれていないため補いました。", false},
    {Reason::TownSpelling, "town_spelling", "町域名を辞書とは違う表記で照合しました。", false},
    {Reason::VariantKanji, "variant_kanji", "町域名を旧字・異体字で照合しました。", false},
    {Reason::SeveralCandidates, "several_candidates", "候補が複数あり、最も可能性の高いものを選びました。", true},
    {Reason::OfficesAtAddress, "offices_at_address", "この所在地には個別の郵便番号を持つ事業所もあります。", false},
    {Reason::TextUnused, "text_unused", "住所の一部が照合に使われていません。", true},
    {Reason::CodeBeforeAddress, "code_before_address", "住所の前に書かれた郵便番号を住所と分けて読みました。", false},
    {Reason::CodeMismatch, "code_mismatch", "書かれていた郵便番号と違います。", true},
    {Reason::CodeUnreadable, "code_unreadable", "書かれていた郵便番号が7桁の数字ではありません。", true},
    {Reason::CodeChanged, "code_changed", "以前の版のデータでは別の郵便番号でした。", false},
    {Reason::OldName, "old_name", "旧市町村名で照合しました。", false},
    {Reason::Romaji, "romaji", "ローマ字の住所を読みました。", false},
    {Reason::ChouChou, "chou_chou", "「町」と「丁」の違いを同じものとして照合しました。", false},
    {Reason::Lookalike, "lookalike", "形の似た別の字を同じ字として照合しました。", true},
};

constexpr std::pair<std::uint32_t, Reason> kEngineBits[] = {
    {engine_reason::kOldName, Reason::OldName},
    {engine_reason::kVariantKanji, Reason::VariantKanji},
    {engine_reason::kCountyRestored, Reason::CountyRestored},
    {engine_reason::kCodeBeforeAddress, Reason::CodeBeforeAddress},
    {engine_reason::kRomaji, Reason::Romaji},
    {engine_reason::kChouChou, Reason::ChouChou},
    {engine_reason::kLookalike, Reason::Lookalike},
};

} // namespace

const ReasonInfo& Info(Reason reason) { return kReasons[static_cast<std::size_t>(reason)]; }

const std::vector<ReasonInfo>& AllReasons() { return kReasons; }

bool ReasonOfCode(std::string_view code, Reason& reason)
{
    for (const ReasonInfo& info : kReasons)
        if (code == info.code) {
            reason = info.reason;
            return true;
        }
    return false;
}

bool ReasonSet::NeedsReview() const
{
    for (const ReasonInfo& info : kReasons)
        if (info.review && Has(info.reason)) return true;
    return false;
}

void ReasonSet::AddEngine(std::uint32_t engineBits)
{
    for (const auto& [bit, reason] : kEngineBits)
        if (engineBits & bit) Add(reason);
}

std::vector<Reason> ReasonSet::List() const
{
    std::vector<Reason> out;
    for (const ReasonInfo& info : kReasons)
        if (Has(info.reason)) out.push_back(info.reason);
    return out;
}

std::string ReasonSet::Codes() const
{
    std::string out;
    for (const Reason r : List()) out += (out.empty() ? "" : ";") + std::string(Info(r).code);
    return out;
}

std::string ReasonSet::Texts() const
{
    std::string out;
    for (const Reason r : List()) out += Info(r).text;
    return out;
}

} // namespace ubin
