// A directory rebuilt again and again while lookups run from four threads: every answer is the
// answer of one of the two builds, whole, and no lookup fails.
#include "base/cp932.h"
#include "search/live.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace ubin;
namespace fs = std::filesystem;

namespace {

constexpr int kLookupThreads = 4;
// Fewer rebuilds under the sanitizers, where each takes several times as long (under
// ThreadSanitizer many times: a few rebuilds already swap the folder under every thread).
#if defined(UBIN_THREAD_SANITIZED)
constexpr int kBuilds = 8;
#elif defined(UBIN_SANITIZED)
constexpr int kBuilds = 25;
#else
constexpr int kBuilds = 100;
#endif

std::string Describe(const std::vector<Entry>& entries)
{
    std::string out;
    for (const Entry& e : entries) out += ToUtf8(e.postalCode + e.city + e.town + e.detail) + ";";
    return out;
}

// One question asked of an edition: a postal code and a free-text search.
std::string Answer(const Edition& e, const std::u16string& code, const std::u16string& text)
{
    return Describe(e.lookup->FindPostalAreas(code)) + "|" + Describe(e.finder->Find(text, 20).results);
}

struct Question {
    std::u16string code, text;
    std::string a, b; // the answers of the two builds
};

} // namespace

TEST(LiveDirectory, LookupsWhileTheFolderIsRebuiltGetOneBuildsAnswersWhole)
{
    test::TempDir t;
    // Build A is the sample; build B leaves out every third row and names its towns anew.
    const std::string sample = test::ReadBytes(UBIN_SAMPLE_CSV);
    std::string other;
    std::size_t row = 0, start = 0;
    while (start < sample.size()) {
        const std::size_t end = sample.find('\n', start) + 1;
        if (row++ % 3 != 0) other += sample.substr(start, end - start);
        start = end;
    }
    test::WriteBytes(t / "a.csv", sample);
    test::WriteBytes(t / "b.csv", other);
    BuildDirectory(t / "a.csv", t / "ref-a");
    BuildDirectory(t / "b.csv", t / "ref-b");
    const auto refA = Lookup::Open(FromUtf8((t / "ref-a").string() + "/"));
    const auto refB = Lookup::Open(FromUtf8((t / "ref-b").string() + "/"));
    const Finder findA(*refA), findB(*refB);
    const Edition a{std::shared_ptr<const Lookup>(refA.get(), [](const Lookup*) {}), std::shared_ptr<const Finder>(&findA, [](const Finder*) {}), ""};
    const Edition b{std::shared_ptr<const Lookup>(refB.get(), [](const Lookup*) {}), std::shared_ptr<const Finder>(&findB, [](const Finder*) {}), ""};
    std::vector<Question> questions;
    for (std::int32_t n = 1; n <= refA->EntryCount(); n += 37) {
        const Entry e = refA->ReadEntry(n);
        Question q{e.postalCode, e.city + e.town.substr(0, 1), {}, {}};
        q.a = Answer(a, q.code, q.text);
        q.b = Answer(b, q.code, q.text);
        questions.push_back(q);
    }
    int differ = 0;
    for (const Question& q : questions) differ += q.a != q.b;
    ASSERT_GT(differ, 10); // the two builds answer differently

    BuildDirectory(t / "a.csv", t / "live");
    LiveDirectory live(FromUtf8((t / "live").string() + "/"), {.mapped = true, .find = true,
                                                                   .checkEvery = std::chrono::milliseconds(1)});
    std::atomic<bool> done{false};
    std::atomic<int> answers{0}, fromA{0}, fromB{0}, wrong{0};
    std::vector<std::string> errors(kLookupThreads);
    std::vector<std::thread> threads;
    for (int k = 0; k < kLookupThreads; ++k)
        threads.emplace_back([&, k] {
            try {
                for (std::size_t i = static_cast<std::size_t>(k); !done; i = (i + 1) % questions.size()) {
                    const Question& q = questions[i];
                    const std::string answer = Answer(*live.Current(), q.code, q.text);
                    ++answers;
                    if (answer == q.a) ++fromA;
                    if (answer == q.b) ++fromB;
                    if (answer != q.a && answer != q.b) ++wrong;
                }
            } catch (const std::exception& e) {
                errors[static_cast<std::size_t>(k)] = e.what();
            }
        });
    for (int i = 1; i <= kBuilds; ++i) BuildDirectory(t / (i % 2 ? "b.csv" : "a.csv"), t / "live");
    done = true;
    for (auto& th : threads) th.join();
    for (const std::string& e : errors) EXPECT_EQ(e, "");
    EXPECT_EQ(wrong, 0) << "of " << answers << " answers";
    EXPECT_GT(fromA, 0);
    EXPECT_GT(fromB, 0); // the lookups moved to the new builds
    // In the end the last build is the one answering.
    EXPECT_EQ(Answer(*live.Current(), questions[1].code, questions[1].text), questions[1].a);
}
