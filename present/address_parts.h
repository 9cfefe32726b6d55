#pragma once
// A written address split into the columns a cleaned list gives: the house number as the
// resolver read it (丁目, 番地, 号), and what follows it (building, floor, room), each in NFKC
// (half-width digits and letters, full-width kana). The prefecture, city and town come from the
// entry found; what could be placed nowhere stays in `rest`.
#include "search/address.h"
#include "search/lookup.h"

#include <string>
#include <string_view>

namespace ubin {

struct AddressParts {
    std::u16string chome;  // "4"; a 地割 as "9地割"
    std::u16string banchi; // "6"
    std::u16string go;     // "16"
    std::u16string building;
    std::u16string floor;  // "30"; a basement "B1", a basement of unknown depth "B"
    std::u16string room;   // "101", "A-203"
    std::u16string rest;   // written, and none of the above

    bool HasNumber() const { return !chome.empty() || !banchi.empty() || !go.empty(); }
};

// The house number into 丁目, 番地 and 号: a number written with its unit goes to that unit; one
// written without follows the part before it, and the first such number is 丁目 when three or
// more are written (1-7-1) and 番地 when fewer (8-18, 1369), or 番地 when the town itself holds
// the 丁目 (`townChome`, "1" for the town 本町1丁目). A number past 号 (1-2-3-405) is the room.
void SplitNumber(const WrittenNumber& number, std::u16string_view townChome, AddressParts& parts);

// The text after the house number (as written) into building, floor and room, from its end: a
// room (101, 203号室, A-101), then a floor (3F, 5階, B1F, 地下1階, 地階), and before them the
// building's name. What holds no letter, kana or kanji after that is left in `rest`.
void SplitTail(std::u16string_view tail, AddressParts& parts);

// The 丁目 a town's name in name form ends with ("1" for 本町1丁目); empty when none.
std::u16string TownChome(std::u16string_view townNameForm);

// The floor of a directory's floor text (３０階: "30", 地階・階層不明: empty).
std::u16string FloorOfEntry(std::u16string_view floorText);

// The address in one notation: prefecture, city and town as the entry has them, then
// 4丁目6-16 (or 400番地 when no 号, 9地割 where one was written), then a blank and the building,
// its floor (30階, 地下1階, 地階) and room (101号室); what was written and placed nowhere
// follows. An office's own street stands for the number when none was read.
std::u16string NormalizedAddress(const Entry& entry, const AddressParts& parts, bool townHoldsChome);

} // namespace ubin
