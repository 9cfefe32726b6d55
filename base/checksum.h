#pragma once
// The checksum of the directory files: XXH3 with 64 bits (xxHash, several GB/s, so a whole
// directory costs milliseconds). MANIFEST.TXT lists it for every file of a build; a file with
// a header of its own (検索.IDX) also carries it inside, so that it refuses damage without the
// manifest.
//
// A file that carries its own checksum keeps 8 bytes of its header for it, at a fixed offset.
// The value is the XXH3 of the whole file with those 8 bytes read as zeros: the writer fills
// the file with the field zero, takes Xxh3Of(bytes) and stores it there (little-endian); the
// reader compares the field with Xxh3WithFieldZeroed(bytes, offset).
#include "base/file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ubin {

std::uint64_t Xxh3Of(std::span<const unsigned char> bytes);
std::uint64_t Xxh3Of(std::string_view bytes);

// XXH3 of the bytes with the 8 at `field` read as zeros (the field must lie inside them).
std::uint64_t Xxh3WithFieldZeroed(std::span<const unsigned char> bytes, std::size_t field);

// XXH3 of an open file's first `size` bytes, read a few megabytes at a time without keeping
// them (platform::ForEachPart): DirectoryError naming the file when it is shorter.
std::uint64_t Xxh3OfOpenFile(platform::FileHandle file, std::uint64_t size, const std::filesystem::path& path);

// XXH3 of a mapped file as it lies on disk (through its handle, not the mapping's pages, so that
// checking a file keeps none of it in memory); with `zeroedField`, the 8 bytes there read as
// zeros, as Xxh3WithFieldZeroed.
std::uint64_t Xxh3OfMapped(const platform::MappedFile& map, std::optional<std::size_t> zeroedField = std::nullopt);

// XXH3 of `size` bytes of a mapped file from `offset` on, read through its handle as Xxh3OfMapped.
std::uint64_t Xxh3OfMappedRange(const platform::MappedFile& map, std::uint64_t offset, std::uint64_t size);

// The 16 lowercase hexadecimal digits MANIFEST.TXT writes.
std::string Xxh3Hex(std::uint64_t sum);

// XXH3 of bytes given in parts (a file read a block at a time): the same value as Xxh3Of of
// the parts joined.
class Xxh3Stream {
public:
    Xxh3Stream();
    ~Xxh3Stream();
    Xxh3Stream(const Xxh3Stream&) = delete;
    Xxh3Stream& operator=(const Xxh3Stream&) = delete;
    void Update(const void* bytes, std::size_t size);
    std::uint64_t Digest() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace ubin
