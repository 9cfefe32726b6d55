#include "present/batch_report.h"

#include "base/cp932.h"
#include "base/normalize.h"

#include <algorithm>
#include <cstdio>
#include <span>

namespace ubin {

namespace {

struct LevelName {
    const char* key;
    const char* label;
};
constexpr LevelName kLevels[] = {
    {"number", "番地まで一致"}, {"town", "町域まで一致"}, {"city", "市区町村まで一致"}, {"prefecture", "都道府県まで一致"},
    {"none", "住所として読めず"}, {"postal", "郵便番号で引いた"}, {"reading", "読みで引いた"}, {"text", "名前の一部で引いた"},
    {"error", "エラー"}, {"empty", "空行"},
};
constexpr LevelName kConfidences[] = {{"high", "高い"}, {"medium", "中くらい"}, {"low", "低い"}};

std::string Percent(std::size_t part, std::size_t whole)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0);
    return text;
}

std::string Thousands(std::size_t n)
{
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string Code(std::string_view code) { return code.size() == 7 ? std::string(code.substr(0, 3)) + "-" + std::string(code.substr(3)) : std::string(code); }

// The name a town not found was written with: the start of what the directory could not place,
// up to a number or a blank (存在しない町1-2 サンハイツ: 存在しない町), at most 20 characters.
std::string TownWritten(std::string_view rest)
{
    const std::u16string t = Nfkc(FromUtf8(rest));
    std::u16string head;
    for (const char16_t c : t) {
        if ((c >= u'0' && c <= u'9') || c == u' ' || c == u'-' || head.size() >= 20) break;
        head.push_back(c);
    }
    return ToUtf8(head);
}

bool TownUnknown(const BatchAnswer& a)
{
    return a.reasons.Has(Reason::CityCatchAll) || a.reasons.Has(Reason::TownNotFound) || a.reasons.Has(Reason::WardUnknown)
           || (a.reasons.Has(Reason::NotFound) && a.match == "address");
}

std::vector<BatchReport::Count> Ordered(const std::map<std::string, std::size_t>& counts, std::span<const LevelName> names)
{
    std::vector<BatchReport::Count> out;
    for (const LevelName& n : names)
        if (const auto it = counts.find(n.key); it != counts.end() && it->second > 0) out.push_back({n.key, n.label, it->second});
    return out;
}

constexpr int kTextBar = 30;

void TextTable(std::string& out, const std::string& title, const std::vector<BatchReport::Count>& counts, std::size_t whole)
{
    out += "\n" + title + "\n";
    if (counts.empty()) out += "  なし\n";
    for (const BatchReport::Count& c : counts) {
        const int bar = whole ? static_cast<int>((kTextBar * c.rows + whole - 1) / whole) : 0;
        char line[64];
        std::snprintf(line, sizeof line, "%9s %7s  ", Thousands(c.rows).c_str(), Percent(c.rows, whole).c_str());
        out += line + std::string(static_cast<std::size_t>(bar), '#') + std::string(static_cast<std::size_t>(kTextBar - bar), ' ')
               + "  " + c.label + (c.key != c.label ? " (" + c.key + ")" : "") + "\n";
    }
}

void TextRows(std::string& out, const std::string& title, std::size_t count, const std::vector<BatchReport::Row>& rows,
              const char* before, const char* after)
{
    out += "\n" + title + ": " + Thousands(count) + " 行";
    if (count > rows.size()) out += "（先頭の " + Thousands(rows.size()) + " 行）";
    out += "\n";
    if (rows.empty()) return;
    for (const BatchReport::Row& r : rows)
        out += "  " + Thousands(r.line) + " 行目  " + before + " " + (r.before.empty() ? "なし" : Code(r.before)) + "  " + after
               + " " + (r.after.empty() ? "なし" : Code(r.after)) + "  " + r.address + "\n";
}

// One table of counts with a bar each, its rows marked with their key and count for scripts.
void HtmlTable(std::string& out, const char* id, const std::string& title, const std::vector<BatchReport::Count>& counts,
               std::size_t whole)
{
    out += "<section id=\"" + std::string(id) + "\"><h2>" + HtmlEscape(title) + "</h2>\n";
    if (counts.empty()) {
        out += "<p class=\"none\">なし</p></section>\n";
        return;
    }
    out += "<table><thead><tr><th>項目</th><th class=\"n\">行数</th><th class=\"n\">割合</th><th></th></tr></thead><tbody>\n";
    for (const BatchReport::Count& c : counts) {
        const std::string share = Percent(c.rows, whole);
        out += "<tr data-key=\"" + HtmlEscape(c.key) + "\" data-rows=\"" + std::to_string(c.rows) + "\"><td>" + HtmlEscape(c.label)
               + (c.key != c.label ? " <code>" + HtmlEscape(c.key) + "</code>" : "") + "</td><td class=\"n\">" + Thousands(c.rows)
               + "</td><td class=\"n\">" + share + "</td><td class=\"bar\"><span style=\"width:" + share.substr(0, share.size() - 1)
               + "%\"></span></td></tr>\n";
    }
    out += "</tbody></table></section>\n";
}

void HtmlRows(std::string& out, const char* id, const std::string& title, std::size_t count, const std::vector<BatchReport::Row>& rows,
              const char* before, const char* after)
{
    out += "<section id=\"" + std::string(id) + "\" data-rows=\"" + std::to_string(count) + "\"><h2>" + HtmlEscape(title) + "（"
           + Thousands(count) + " 行" + (count > rows.size() ? "、先頭の " + Thousands(rows.size()) + " 行" : std::string()) + "）</h2>\n";
    if (rows.empty()) {
        out += "<p class=\"none\">なし</p></section>\n";
        return;
    }
    out += "<table><thead><tr><th class=\"n\">行</th><th>" + std::string(before) + "</th><th>" + after
           + "</th><th>住所</th></tr></thead><tbody>\n";
    for (const BatchReport::Row& r : rows)
        out += "<tr><td class=\"n\">" + Thousands(r.line) + "</td><td>" + HtmlEscape(r.before.empty() ? "なし" : Code(r.before))
               + "</td><td>" + HtmlEscape(r.after.empty() ? "なし" : Code(r.after)) + "</td><td>" + HtmlEscape(r.address) + "</td></tr>\n";
    out += "</tbody></table></section>\n";
}

constexpr char kStyle[] = R"(body{font-family:"Noto Sans CJK JP","Hiragino Sans",Meiryo,sans-serif;margin:2em;color:#222;max-width:60em}
h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.6em;border-bottom:1px solid #ccc}
table{border-collapse:collapse;width:100%;table-layout:fixed}td,th{padding:.2em .5em;text-align:left;vertical-align:top}
tbody tr:nth-child(odd){background:#f6f6f6}.n{text-align:right;white-space:nowrap;width:6em}
td.bar,th:last-child{width:35%}td.bar span{display:block;height:1em;min-width:1px;background:#3a7bd5}
#reasons tr.review td.bar span{background:#d9822b}.figures{font-size:1.1em}.figures b{font-size:1.3em}
code{color:#666;font-size:.85em}.none{color:#888})";

} // namespace

const std::vector<std::string>& LevelKeys()
{
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k;
        for (const LevelName& n : kLevels) k.push_back(n.key);
        return k;
    }();
    return keys;
}

const char* LevelLabel(std::string_view key)
{
    for (const LevelName& n : kLevels)
        if (key == n.key) return n.label;
    return "";
}

std::string LevelKey(const BatchAnswer& a)
{
    if (!a.error.empty()) return "error";
    if (a.empty) return "empty";
    if (!a.level.empty()) return a.level;
    return a.match;
}

std::string HtmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

void BatchReport::Add(const BatchLine& line, const BatchAnswer& a)
{
    ++rows_;
    found_ += a.Found();
    review_ += a.review;
    ++levels_[LevelKey(a)];
    if (a.confidence != Confidence::None) ++confidences_[ConfidenceName(a.confidence)];
    for (const Reason r : a.reasons.List()) ++reasons_[static_cast<std::size_t>(r)];
    if (TownUnknown(a)) {
        const std::string place = a.prefecture + a.city;
        std::string town = TownWritten(a.rest.empty() ? line.input : a.rest);
        if (town.empty()) town = "（町域名なし）";
        ++towns_[place.empty() ? town : place + " " + town];
    }
    const std::string address = a.normalized.empty() ? line.input : a.normalized;
    if (a.reasons.Has(Reason::CodeMismatch)) {
        ++mismatches_;
        if (mismatchRows_.size() < kListedRows) mismatchRows_.push_back({line.number, a.writtenCode, a.postalCode, address});
    }
    if (a.changed) {
        ++changes_;
        if (changedRows_.size() < kListedRows) changedRows_.push_back({line.number, a.previousCode, a.postalCode, address});
    }
}

std::vector<BatchReport::Count> BatchReport::Levels() const { return Ordered(levels_, kLevels); }

std::vector<BatchReport::Count> BatchReport::Confidences() const { return Ordered(confidences_, kConfidences); }

std::vector<BatchReport::Count> BatchReport::Reasons() const
{
    std::vector<Count> out;
    for (const ReasonInfo& info : AllReasons())
        if (const std::size_t n = reasons_[static_cast<std::size_t>(info.reason)]; n > 0) out.push_back({info.code, info.text, n});
    return out;
}

std::vector<BatchReport::Count> BatchReport::TownsNotFound() const
{
    std::vector<Count> out;
    for (const auto& [town, rows] : towns_) out.push_back({town, town, rows});
    std::stable_sort(out.begin(), out.end(), [](const Count& a, const Count& b) { return a.rows > b.rows; });
    if (out.size() > kTopTowns) out.resize(kTopTowns);
    return out;
}

std::string BatchReport::Text() const
{
    std::string out = "住所一覧の照合結果\n";
    out += "入力: " + source_.file + "（" + source_.encoding + "、" + Thousands(rows_) + " 行）\n";
    out += "データ: " + source_.edition + (source_.olderEdition.empty() ? "" : "（比べた以前の版: " + source_.olderEdition + "）") + "\n";
    out += "郵便番号が見つかった行: " + Thousands(found_) + " / " + Thousands(rows_) + "（" + Percent(found_, rows_) + "）、要確認: "
           + Thousands(review_) + " 行\n";
    TextTable(out, "照合の深さ", Levels(), rows_);
    TextTable(out, "信頼度", Confidences(), rows_);
    TextTable(out, "理由（1 行に複数あり）", Reasons(), rows_);
    TextTable(out, "見つからなかった町域（多い順、上位 " + std::to_string(kTopTowns) + "）", TownsNotFound(), rows_);
    TextRows(out, "書かれた郵便番号と違った行", mismatches_, mismatchRows_, "書かれた", "答え");
    if (!source_.olderEdition.empty()) TextRows(out, "以前の版と郵便番号が変わった行", changes_, changedRows_, "以前", "今");
    return out;
}

std::string BatchReport::Html() const
{
    std::string out = "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">"
                      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\"><title>住所一覧の照合結果 "
                      + HtmlEscape(source_.file) + "</title><style>" + kStyle + "</style></head><body>\n";
    out += "<h1>住所一覧の照合結果</h1>\n<p>入力: " + HtmlEscape(source_.file) + "（" + HtmlEscape(source_.encoding) + "）　データ: "
           + HtmlEscape(source_.edition)
           + (source_.olderEdition.empty() ? "" : "（比べた以前の版: " + HtmlEscape(source_.olderEdition) + "）") + "</p>\n";
    out += "<p class=\"figures\" id=\"summary\" data-rows=\"" + std::to_string(rows_) + "\" data-found=\"" + std::to_string(found_)
           + "\" data-review=\"" + std::to_string(review_) + "\">" + Thousands(rows_) + " 行のうち郵便番号が見つかった行 <b>"
           + Thousands(found_) + "</b>（" + Percent(found_, rows_) + "）、要確認 <b>" + Thousands(review_) + "</b> 行</p>\n";
    HtmlTable(out, "levels", "照合の深さ", Levels(), rows_);
    HtmlTable(out, "confidence", "信頼度", Confidences(), rows_);
    // Reasons that ask for a check by hand are drawn in another colour.
    std::string reasons;
    HtmlTable(reasons, "reasons", "理由（1 行に複数あり）", Reasons(), rows_);
    for (const ReasonInfo& info : AllReasons())
        if (info.review) {
            const std::string mark = "<tr data-key=\"" + std::string(info.code) + "\"";
            if (const std::size_t at = reasons.find(mark); at != std::string::npos) reasons.insert(at + 3, " class=\"review\"");
        }
    out += reasons;
    HtmlTable(out, "towns", "見つからなかった町域（多い順、上位 " + std::to_string(kTopTowns) + "）", TownsNotFound(), rows_);
    HtmlRows(out, "mismatches", "書かれた郵便番号と違った行", mismatches_, mismatchRows_, "書かれた", "答え");
    if (!source_.olderEdition.empty()) HtmlRows(out, "changes", "以前の版と郵便番号が変わった行", changes_, changedRows_, "以前", "今");
    out += "</body></html>\n";
    return out;
}

} // namespace ubin
