#include "base/errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace ubin {
namespace {

struct Thrown {
    const char* kind;
    std::function<void()> raise;
    std::string message;
};

// A program catches ubin::Error at its edge and shows what() as it stands: every kind of the
// engine and the builder must reach that one catch, with its whole message.
TEST(Errors, EveryKindReachesOneCatchOfErrorWithItsWholeMessage)
{
    using namespace std::string_literals;
    const std::vector<Thrown> kinds = {
        {"DirectoryError", [] { throw DirectoryError("UIND1.IDX: record 3 is cut short"); }, "UIND1.IDX: record 3 is cut short"},
        {"EncodingError", [] { throw EncodingError("byte 4 is not UTF-8"); }, "byte 4 is not UTF-8"},
        {"FieldCountError", [] { throw FieldCountError("郵便番号.CSV: line 2 has 7 fields"); }, "郵便番号.CSV: line 2 has 7 fields"},
        {"SettingsError", [] { throw SettingsError("ubscon.def: line 1"); }, "ubscon.def: line 1"},
        {"FileWriteError", [] { throw FileWriteError("MANIFEST.TXT: disk full"); }, "MANIFEST.TXT: disk full"},
        {"QueryError", [] { throw QueryError(QueryFault::TooLong, "the query is 300 characters long"); },
         "the query is 300 characters long"},
        {"BuildError on a line", [] { throw BuildError("KEN_ALL.CSV", 12, "column 3 is not 7 digits: 73000a4"); },
         "KEN_ALL.CSV: line 12: column 3 is not 7 digits: 73000a4"},
        {"BuildError of a file", [] { throw BuildError("out", 0, "is a file, not a folder"); }, "out: is a file, not a folder"},
        {"BuildError of no file", [] { throw BuildError({}, 0, "the edition is not a month"); }, "the edition is not a month"},
        // A NUL byte of the data quoted in a message would end what() there: it is written \0.
        {"BuildError quoting a NUL", [] { throw BuildError("KEN_ALL.CSV", 3, "not 7 digits: 73\0"s + "0014"); },
         "KEN_ALL.CSV: line 3: not 7 digits: 73\\00014"},
    };
    for (const Thrown& t : kinds) {
        try {
            t.raise();
            ADD_FAILURE() << t.kind << " was not thrown";
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), t.message) << t.kind;
        } catch (...) {
            ADD_FAILURE() << t.kind << " is not a ubin::Error";
        }
    }
}

} // namespace
} // namespace ubin
