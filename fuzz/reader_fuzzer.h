#pragma once
// The shared part of the fuzz targets for the readers of Japan Post's files (KEN_ALL.CSV and
// JIGYOSYO.CSV): the input is a whole file of up to kMaxReaderInput
// bytes; the reader must return its data or throw a BuildError naming the file, never crash,
// hang or read out of bounds, and what it returns must keep the promises the builder relies on.
//
// A reader's target is a few lines:
//
//   extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
//   {
//       return ubin::fuzz::FuzzReader(data, size, "JIGYOSYO.CSV", ubin::ReadJigyosyoBytes, CheckOffices);
//   }
//
// and one line in fuzz/CMakeLists.txt: ubin_reader_fuzzer(fuzz_jigyosyo fuzz_jigyosyo.cpp).
#include "base/cp932.h"
#include "builder/builder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ubin::fuzz {

// KEN_ALL.CSV is about 12 MiB, JIGYOSYO.CSV 2.5 MiB: a megabyte holds thousands of rows, enough
// for every rule that joins or compares rows.
inline constexpr std::size_t kMaxReaderInput = std::size_t{1} << 20;

// Stops the run: what the reader returned breaks a promise.
[[noreturn]] inline void Broken() { __builtin_trap(); }

// A text as it goes into a directory file: code page 932 that decodes, without the commas and
// double quotes the readers split on, and without control characters.
inline void CheckDirectoryText(std::string_view cp932)
{
    std::u16string text;
    if (TryDecodeCp932(cp932, text) != cp932.size()) Broken();
    for (const char16_t c : text)
        if (c == u',' || c == u'"' || c < 0x20 || c == 0x7F) Broken();
}

inline bool AllDigits(std::string_view s, std::size_t n)
{
    if (s.size() != n) return false;
    for (const char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Runs `read(bytes, fileName, options, progress)` on the input and `check` on its result.
template <class Read, class Check>
int FuzzReader(const std::uint8_t* data, std::size_t size, const char* fileName, Read read, Check check)
{
    if (size > kMaxReaderInput) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    BuildProgress progress;
    const BuildOptions options;
    try {
        check(read(bytes, fileName, options, progress));
    } catch (const BuildError& e) {
        // The message names the file, a line within the input when it names one, and a reason.
        if (e.file() != fileName || e.reason().empty() || e.line() < 0) Broken();
        if (e.line() > 0 && static_cast<std::size_t>(e.line()) > size + 1) Broken();
    }
    return 0;
}

} // namespace ubin::fuzz
