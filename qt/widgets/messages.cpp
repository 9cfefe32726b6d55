#include "qt/widgets/messages.h"

#include <QRegularExpression>

namespace ubin::widgets {

namespace {

struct Translation {
    const char* pattern; // the reader's English reason
    const char* text;    // Japanese, with \1, \2 for the captured parts
};

const Translation kReasons[] = {
    {R"(^file not found$)", "ファイルがありません"},
    {R"(^is a folder, not a file$)", "ファイルではなくフォルダです"},
    {R"(^cannot be opened$)", "開けません（読む権限を確かめてください）"},
    {R"(^cannot be read$)", "読み込みに失敗しました"},
    {R"(^holds (\d+) values; 15 are needed$)", "値が \\1 個しかありません（15 個必要です）"},
    {R"(^value (\d+) \((.*)\) is not a 16-bit integer$)",
     "\\1 番目の値「\\2」が 16 ビットの整数（-32768～32767）ではありません"},
    {R"(^byte (\d+) \(0x([0-9A-Fa-f]{2})\) does not begin a code page 932 character$)",
     "\\1 バイト目 (0x\\2) がシフト JIS（コードページ 932）の文字ではありません"},
};

QString Translate(const QString& reason)
{
    for (const Translation& t : kReasons) {
        const QRegularExpressionMatch m = QRegularExpression(QString::fromUtf8(t.pattern)).match(reason);
        if (!m.hasMatch()) continue;
        QString text = QString::fromUtf8(t.text);
        for (int i = 1; i <= m.lastCapturedIndex(); ++i) text.replace(QStringLiteral("\\%1").arg(i), m.captured(i));
        return text;
    }
    return QStringLiteral("読めません: ") + reason;
}

} // namespace

QString PathText(const std::filesystem::path& path) { return QString::fromStdU16String(path.u16string()); }

SettingsPlaceFailure DescribeSettingsFailure(const std::string& triedLine, const std::filesystem::path& place)
{
    const QString line = QString::fromStdString(triedLine);
    const QString prefix = QString::fromStdString(place.string()) + QStringLiteral(": ");
    SettingsPlaceFailure f;
    f.path = PathText(place);
    const QString reason = line.startsWith(prefix) ? line.mid(prefix.size()) : line;
    f.missing = reason == QLatin1String("file not found");
    f.reason = Translate(reason);
    return f;
}

QString SettingsNotFoundText(const QString& headline, const std::vector<std::filesystem::path>& places,
                             const std::vector<std::string>& tried, const std::filesystem::path& userFolder)
{
    QString text = headline + QStringLiteral("\n\n次の場所を調べました:");
    bool unreadable = false;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const SettingsPlaceFailure f =
            DescribeSettingsFailure(i < tried.size() ? tried[i] : std::string("file not found"), places[i]);
        unreadable = unreadable || !f.missing;
        text += QStringLiteral("\n・%1\n　→ %2").arg(f.path, f.reason);
    }
    if (unreadable)
        text += QStringLiteral("\n\n読めない ubscon.def は、テキストエディタで直すか、消して作り直してください。");
    text += QStringLiteral("\n\n設定ファイルは辞書と一緒に作れます:\n"
                           "　ubin-build KEN_ALL.CSV 辞書のフォルダ --settings\n"
                           "できた 辞書のフォルダ/ubscon.def を %1 に置いてください。\n"
                           "置いた後、辞書のパスとクリップ項目は tenzora で変えられます。")
                .arg(PathText(userFolder));
    return text;
}

} // namespace ubin::widgets
