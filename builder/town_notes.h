#pragma once
// The grammar of KEN_ALL's town notes: a town field taken apart into the town proper and what its
// parenthesised note says (directory/address_file.h holds the result).
//
//   以下に掲載がない場合                 the city's catch-all entry, no town
//   小菅村の次に１～６６３番地がくる場合  the number follows the city, no town
//   利島村一円                          the whole municipality, no town
//   丸の内ＪＰタワー（３０階）           building ＪＰタワー of 丸の内, floor 30
//   丸の内（次のビルを除く）              丸の内 outside its buildings
//   北一条西（１～１９丁目）              numbers: 丁目 1 to 19
//   川井（第９地割～第１１地割）          numbers: 地割 9 to 11
//   南山（４３０番地以上「１７７０－１～２、…を除く」、大谷地、…）
//                                      numbers with exceptions, and named parts
//   近衛町（油小路通下立売上る、…）      Kyoto streets
//   草間（その他）                       what the town's other entries do not hold
#include "directory/address_file.h"

#include <functional>
#include <string>
#include <string_view>

namespace ubin {

// Whether a text is the name of a town of the same city (for finding the town a building
// stands in: 丸の内ＪＰタワー is building ＪＰタワー of the town 丸の内).
using TownOfCity = std::function<bool(std::u16string_view townName)>;

// Reads one entry's town. `town` is KEN_ALL's town name without its parenthesised part, `note`
// the parenthesised part (groups joined with a full-width blank), `city` the city's name.
// Sets every field of the record but its entry and city numbers.
AddressRecord ReadTownNote(std::u16string_view city, std::u16string_view town, std::u16string_view note,
                           const TownOfCity& isTown);

// Whether the record's note holds a part no rule reads (a Plain clause, or a Plain note).
bool HasUnreadNote(const AddressRecord& record);

} // namespace ubin
