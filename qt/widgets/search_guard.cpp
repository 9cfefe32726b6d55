#include "qt/widgets/search_guard.h"

#include "base/errors.h"
#include "directory/directory.h"
#include "directory/manifest.h"

#include <vector>

namespace ubin::widgets {

namespace {

// The directory file a reader's message is about, or empty.
QString DirectoryFileIn(const std::string& detail)
{
    std::vector<std::u16string> names(std::begin(kIndexFileNames), std::end(kIndexFileNames));
    for (const auto* name : {&kPointFileName, &kLinesFileName, &kCityTableFileName, &kCityLinesFileName,
                             &kOfficeLinesFileName, &kOfficeIndexFileName, &kFindIndexFileName, &kManifestFileName})
        names.push_back(*name);
    const QString text = QString::fromUtf8(detail);
    for (const std::u16string& name : names) {
        const QString n = QString::fromStdU16String(name);
        if (text.contains(n)) return n;
    }
    return {};
}

} // namespace

QString DirectoryErrorText(const std::string& detail, const std::u16string& dataFolder)
{
    const bool missing = detail.find(": file not found") != std::string::npos;
    const QString file = DirectoryFileIn(detail);
    QString text = missing ? QStringLiteral("郵便番号辞書のファイルがありません。")
                           : QStringLiteral("郵便番号辞書のファイルを読めません。");
    if (!file.isEmpty()) text += QStringLiteral("\nファイル: ") + file;
    text += QStringLiteral("\n辞書のフォルダ（設定の DataFolder）: ")
            + (dataFolder.empty() ? QStringLiteral("（空です）") : QString::fromStdU16String(dataFolder));
    text += QStringLiteral("\n詳しく: ") + QString::fromUtf8(detail);
    text += missing ? QStringLiteral("\n\n辞書のフォルダが正しいか、tenzora の「郵便番号辞書のパス」で確かめてください。"
                                     "辞書がまだないときは、次のコマンドで作れます:\n"
                                     "　ubin-build KEN_ALL.CSV 辞書のフォルダ")
                    : QStringLiteral("\n\nファイルが壊れているか、途中で切れています。"
                                     "次のコマンドで辞書を作り直してください:\n"
                                     "　ubin-build KEN_ALL.CSV 辞書のフォルダ");
    return text;
}

void RunEvent(const std::function<void()>& handler, const std::u16string& dataFolder,
              const std::function<void(const QString&)>& report)
{
    try {
        handler();
    } catch (const Error& e) {
        report(DirectoryErrorText(e.what(), dataFolder));
    } catch (const std::exception& e) {
        report(QStringLiteral("検索の途中でエラーが起きました。\n詳しく: ") + QString::fromUtf8(e.what()));
    }
}

} // namespace ubin::widgets
