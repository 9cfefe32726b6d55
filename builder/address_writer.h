#pragma once
// The address notes file (住所.TXT) of a build: every entry's town read by the note grammar
// (builder/town_notes.h), with the prefectures and cities.
#include "directory/address_file.h"
#include "builder/ken_all.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ubin {

struct AddressNotes {
    AddressFile file;
    std::int32_t unread = 0; // entries whose note holds words no rule reads
};

// `entryOrder[k]` is the entry of data.entries that becomes entry k + 1.
AddressNotes MakeAddressNotes(const KenAllData& data, const std::vector<std::size_t>& entryOrder);

} // namespace ubin
