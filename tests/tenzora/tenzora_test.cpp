#include "tenzora/tenzora_window.h"

#include "base/cp932.h"
#include "settings/places.h"
#include "settings/settings.h"
#include "tests/support/temp_dir.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <iterator>
#include <map>

namespace ubin {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::WriteBytes;

// A line as Marubeta writes it: values 4-6 unquoted, a flag of 2 among the clip flags, and
// flags 7 and 8 that no program shows.
std::string MarubetaLine(const std::u16string& folder)
{
    return EncodeCp932(u"\"予備１\",\"R2\",\"" + folder + u"\",0,1200,-300,1,2,0,1,0,0,1,7,-8,\"END\"\r\n");
}

class TenzoraTest : public ::testing::Test {
protected:
    TenzoraTest()
    {
        places_.windowsFolder = root_ / "config/marubeta";
        places_.currentFolder = root_ / "cwd";
        places_.installFolder = root_ / "share/marubeta";
        fs::create_directories(places_.windowsFolder);
        fs::create_directories(places_.currentFolder);
    }

    fs::path WindowsFile() const { return places_.windowsFolder / kSettingsFileName; }
    fs::path CurrentFile() const { return places_.currentFolder / kSettingsFileName; }

    // A window over the temporary places whose messages are collected instead of shown.
    std::unique_ptr<TenzoraWindow> Open()
    {
        auto w = std::make_unique<TenzoraWindow>(places_);
        w->setMessageFunction([this](QWidget*, const QString& text) { messages_.push_back(text); });
        return w;
    }

    QCheckBox* Check(TenzoraWindow& w, int i) { return w.findChild<QCheckBox*>(QStringLiteral("Check1_%1").arg(i)); }
    QLineEdit* Text1(TenzoraWindow& w) { return w.findChild<QLineEdit*>(QStringLiteral("Text1")); }

    test::TempDir root_;
    PlaceContext places_;
    QStringList messages_;
};

TEST_F(TenzoraTest, FoundInWindowsFolderClosingWritesBothCopiesInItsQuoting)
{
    WriteBytes(WindowsFile(), MarubetaLine(u"/srv/zip/"));
    WriteBytes(CurrentFile(), MarubetaLine(u"/elsewhere/"));

    auto w = Open();
    ASSERT_TRUE(w->load());
    EXPECT_TRUE(w->foundInWindowsFolder());
    // Flags 1, 0, 0, 1... from the Windows-folder copy; the flag of 2 shows unchecked.
    const bool shown[] = {true, false, false, true, false, false, true};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(Check(*w, i)->isChecked(), shown[i]) << i;
    EXPECT_EQ(Text1(*w)->text(), QStringLiteral("/srv/zip/"));

    w->show();
    EXPECT_TRUE(w->close()); // nothing changed: still written
    EXPECT_TRUE(messages_.empty()) << messages_.join(u'\n').toStdString();
    const std::string expected
        = EncodeCp932(u"\"予備１\",\"R2\",\"/srv/zip/\",\"0\",\"1200\",\"-300\",1,0,0,1,0,0,1,7,-8,\"END\"\r\n");
    EXPECT_EQ(ReadBytes(WindowsFile()), expected);
    EXPECT_EQ(ReadBytes(CurrentFile()), expected);
}

TEST_F(TenzoraTest, BoxesClickedOnAndOffSetTheirFlags)
{
    WriteBytes(CurrentFile(), MarubetaLine(u"/srv/zip/"));
    auto w = Open();
    ASSERT_TRUE(w->load());
    w->show();
    QTest::mouseClick(Check(*w, 1), Qt::LeftButton); // was 2, shown unchecked: now on
    QTest::mouseClick(Check(*w, 0), Qt::LeftButton); // was 1: now off
    QTest::mouseClick(Check(*w, 5), Qt::LeftButton);
    w->close();

    const EditorSettings saved = ReadEditorSettingsFile(CurrentFile());
    const ClipFlags expected{0, 1, 0, 1, 0, 1, 1, 7, -8};
    EXPECT_EQ(saved.clipFlags, expected);
}

TEST_F(TenzoraTest, FoundOnlyInCurrentFolderRewritesOnlyThatCopy)
{
    // A Windows-folder copy that ends after 14 values cannot be read and is passed over.
    const std::string shortLine = "\"a\",\"b\",\"/x/\",0,0,0,1,1,1,1,1,1,1,0\r\n";
    WriteBytes(WindowsFile(), shortLine);
    WriteBytes(CurrentFile(), MarubetaLine(u"/srv/zip/"));

    auto w = Open();
    ASSERT_TRUE(w->load());
    EXPECT_FALSE(w->foundInWindowsFolder());
    EXPECT_EQ(Text1(*w)->text(), QStringLiteral("/srv/zip/"));
    w->close();
    EXPECT_EQ(ReadBytes(WindowsFile()), shortLine);
    EXPECT_EQ(ReadEditorSettingsFile(CurrentFile()).texts[4], u"1200");
    EXPECT_NE(ReadBytes(CurrentFile()), MarubetaLine(u"/srv/zip/")); // rewritten in the editor's quoting

    // With no Windows-folder file at all, none is created.
    fs::remove(WindowsFile());
    auto again = Open();
    ASSERT_TRUE(again->load());
    again->close();
    EXPECT_FALSE(fs::exists(WindowsFile()));
}

TEST_F(TenzoraTest, FolderGetsTheFinalSeparatorAndNothingElse)
{
#ifdef _WIN32
    const std::map<std::u16string, std::u16string> cases{
        {u"C:\\ZIPDATA", u"C:\\ZIPDATA\\"}, {u"C:\\ZIPDATA\\", u"C:\\ZIPDATA\\"}, {u"", u""}, {u" D:\\郵便 ", u" D:\\郵便 \\"}};
#else
    const std::map<std::u16string, std::u16string> cases{{u"/tmp/x", u"/tmp/x/"},
                                                         {u"/tmp/x/", u"/tmp/x/"},
                                                         {u"", u""},
                                                         {u"C:\\ZIPDATA", u"C:\\ZIPDATA/"},
                                                         {u" /tmp/郵便 ", u" /tmp/郵便 /"}};
#endif
    for (const auto& [typed, stored] : cases) {
        WriteBytes(CurrentFile(), MarubetaLine(u"/before/"));
        auto w = Open();
        ASSERT_TRUE(w->load());
        w->show();
        Text1(*w)->selectAll();
        Text1(*w)->insert(QString::fromStdU16String(typed)); // as typed over the old folder
        w->close();
        EXPECT_EQ(ReadEditorSettingsFile(CurrentFile()).texts[2], stored) << ToUtf8(typed);
    }
}

TEST_F(TenzoraTest, NoReadableSettingsNamesThePlacesTriedAndWritesNothing)
{
    WriteBytes(WindowsFile(), "\"only\",\"three\",\"values\"\r\n");
    auto w = Open();
    EXPECT_FALSE(w->load());
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_TRUE(messages_[0].contains(QString::fromStdU16String(WindowsFile().u16string())));
    EXPECT_TRUE(messages_[0].contains(QString::fromStdU16String(CurrentFile().u16string())));
    // What is wrong in each place, and how to make a settings file.
    EXPECT_TRUE(messages_[0].contains(QStringLiteral("値が 3 個しかありません（15 個必要です）"))) << messages_[0].toStdString();
    EXPECT_TRUE(messages_[0].contains(QStringLiteral("ファイルがありません")));
    EXPECT_TRUE(messages_[0].contains(QStringLiteral("ubin-build KEN_ALL.CSV 辞書のフォルダ --settings")));
    w->close();
    EXPECT_FALSE(fs::exists(CurrentFile()));
    EXPECT_EQ(ReadBytes(WindowsFile()), "\"only\",\"three\",\"values\"\r\n");
}

TEST_F(TenzoraTest, FailedFirstWriteIsReportedAndKeepsBothOldFiles)
{
    const std::string windowsLine = MarubetaLine(u"/srv/zip/");
    const std::string currentLine = MarubetaLine(u"/elsewhere/");
    WriteBytes(WindowsFile(), windowsLine);
    WriteBytes(CurrentFile(), currentLine);

    auto w = Open();
    ASSERT_TRUE(w->load());
    // A folder name that the settings file's code page cannot hold.
    Text1(*w)->setText(QStringLiteral("/srv/zip\U0001F4EE"));
    w->close();

    EXPECT_TRUE(w->saveFailed());
    ASSERT_EQ(messages_.size(), 1); // the second copy was not tried
    EXPECT_TRUE(messages_[0].contains(QString::fromStdU16String(WindowsFile().u16string())));
    EXPECT_EQ(ReadBytes(WindowsFile()), windowsLine);
    EXPECT_EQ(ReadBytes(CurrentFile()), currentLine);
    EXPECT_EQ(std::distance(fs::directory_iterator(places_.windowsFolder), fs::directory_iterator{}), 1)
        << "a temporary file was left behind";
}

TEST_F(TenzoraTest, WindowShowsEveryControlWithItsCaptionUnclipped)
{
    const std::map<QString, QString> captions{
        {"Label1_0", "クリップ項目選択"},   {"Check1_0", "\u3000自動クリップ"},
        {"Check1_1", "\u3000\u3000郵便番号"}, {"Check1_2", "\u3000\u3000住所\u3000１"},
        {"Check1_3", "\u3000\u3000住所\u3000２"}, {"Check1_4", "\u3000\u3000住所カナ"},
        {"Check1_5", "\u3000\u3000都市コード"}, {"Label1_1", "都道府県名"},
        {"Check1_6", "都道府県名を付加する"},    {"Label1_2", "郵便番号辞書のパス"},
    };
    TenzoraWindow w(places_);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("郵便番号検索定義"));
    std::vector<QWidget*> controls;
    for (const auto& [name, caption] : captions) {
        QWidget* c = w.findChild<QWidget*>(name);
        ASSERT_NE(c, nullptr) << name.toStdString();
        controls.push_back(c);
        const QString text = c->property("text").toString();
        EXPECT_EQ(text, caption) << name.toStdString();
        EXPECT_GE(c->width(), c->sizeHint().width()) << name.toStdString();
        EXPECT_GE(c->height(), c->sizeHint().height()) << name.toStdString();
        if (auto* label = qobject_cast<QLabel*>(c)) {
            EXPECT_TRUE(label->autoFillBackground());
            EXPECT_EQ(label->palette().color(QPalette::Window), QColor(192, 192, 192)) << name.toStdString();
        }
    }
    controls.push_back(Text1(w));
    for (std::size_t i = 0; i < controls.size(); ++i) {
        EXPECT_TRUE(w.rect().contains(controls[i]->geometry())) << controls[i]->objectName().toStdString();
        for (std::size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << controls[i]->objectName().toStdString() << " overlaps " << controls[j]->objectName().toStdString();
    }
}

} // namespace
} // namespace ubin
