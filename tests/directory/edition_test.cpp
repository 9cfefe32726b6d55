// Editions as the manifest holds them: the text read back, months counted across years, what
// counts as old, and a manifest from before editions were recorded.
#include "base/errors.h"
#include "directory/edition.h"
#include "directory/manifest.h"

#include <gtest/gtest.h>

using namespace ubin;

TEST(Edition, TextsThatAreAndAreNotAYearAndAMonth)
{
    const struct {
        const char* text;
        std::optional<YearMonth> month;
    } cases[] = {
        {"2026-11", YearMonth{2026, 11}}, {"1999-01", YearMonth{1999, 1}}, {"2026-12", YearMonth{2026, 12}},
        {"2026-13", std::nullopt},        {"2026-00", std::nullopt},       {"2026-1", std::nullopt},
        {"26-11", std::nullopt},          {"2026/11", std::nullopt},       {"2026-1a", std::nullopt},
        {"+026-11", std::nullopt},        {"", std::nullopt},              {"2026-11 ", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseYearMonth(c.text), c.month) << c.text;
        if (c.month) {
            EXPECT_EQ(FormatYearMonth(*c.month), c.text);
        }
    }
}

TEST(Edition, AgeInMonthsAcrossYearsAndWhatIsOld)
{
    const YearMonth today{2027, 2};
    const struct {
        DirectoryEdition edition;
        int maxAge;
        bool old;
    } cases[] = {
        {{YearMonth{2026, 11}, false}, 3, false}, // three months
        {{YearMonth{2026, 10}, false}, 3, true},  // four
        {{YearMonth{2027, 2}, true}, 0, false},
        {{YearMonth{2027, 3}, false}, 0, false}, // a month ahead of a slow clock
        {{}, 120, true},                          // unknown cannot be shown to be recent
    };
    for (const auto& c : cases) EXPECT_EQ(c.edition.OlderThan(c.maxAge, today), c.old) << c.edition.Text();
    EXPECT_EQ(MonthsBetween({2025, 12}, {2027, 1}), 13);
    EXPECT_EQ(MonthOf(std::chrono::sys_days{std::chrono::year{2026} / 12 / 31} + std::chrono::hours(23)),
              (YearMonth{2026, 12}));
}

TEST(Edition, ManifestsWithAndWithoutEditionRead)
{
    const std::string before = "ubin-build manifest 1\nbuild 5f3a\nUIND1.IDX\t12\t8d1f0a2c\n";
    const Manifest old = ParseManifest(before, "MANIFEST.TXT");
    EXPECT_EQ(EditionOf(&old).Text(), "unknown");
    EXPECT_EQ(EditionOf(nullptr).Text(), "unknown");
    ASSERT_EQ(old.files.size(), 1u);

    const Manifest guessed = ParseManifest(
        "ubin-build manifest 1\nbuild 5f3a\nedition 2026-11\nedition-guessed\ninput KEN_ALL.CSV\t99\tabcd\n"
        "input broken\nUIND1.IDX\t12\t8d1f0a2c\n",
        "MANIFEST.TXT");
    EXPECT_EQ(EditionOf(&guessed).Text(), "2026-11 (guessed from the input files' dates)");
    EXPECT_EQ(EditionOf(&guessed).ShortText(), "2026-11");
    ASSERT_EQ(guessed.inputs.size(), 1u); // the line it cannot take is passed over
    EXPECT_EQ(guessed.inputs[0].size, 99u);
    EXPECT_EQ(guessed.files.size(), 1u);

    // An edition line that is not a month reads as unknown rather than failing the directory.
    const Manifest odd = ParseManifest("ubin-build manifest 1\nbuild 1\nedition soon\n", "MANIFEST.TXT");
    EXPECT_EQ(EditionOf(&odd).Text(), "unknown");
    // A file line still has to be one.
    EXPECT_THROW(ParseManifest("ubin-build manifest 1\nUIND1.IDX\tx\t8d\n", "MANIFEST.TXT"), DirectoryError);
}
