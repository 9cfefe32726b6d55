#pragma once
// The municipalities that others replaced (mergers, renamings, new wards) as Japan Post lists
// them for postal addresses: a UTF-8 CSV file with the columns prefecture, before, after, date
// (YYYY-MM-DD). ubin-build records each old name with the municipality that holds its towns
// today, so that an address written before the change is still read.
#include "directory/address_file.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// One row of the list: `before` may name several municipalities of one 郡 (香焼町・伊王島町 of
// 西彼杵郡) and keep Japan Post's note in （）, as `after` may (南部町（旧富沢町域のみ掲載）).
struct MunicipalChange {
    std::int32_t prefecture = 0; // 1..47
    std::u16string before, after;
    std::int32_t date = 0;       // YYYYMMDD
    std::int64_t line = 0;       // in the file
};

// Reads the list; BuildError naming the file and the line of a row it cannot read.
std::vector<MunicipalChange> ReadMunicipalChanges(std::string_view text, const std::filesystem::path& name);

// The list the suite ships (data/municipal_changes.csv when it was built).
std::string_view ShippedMunicipalChanges();

// Every old name of the list with the municipality that holds its towns today: a change to a
// municipality that changed again is followed to the last, and a name whose new municipality
// the directory does not hold (`cities`: municipal code -> name, 郡 included) is left out, as is
// a row that kept the name. Several old names of one row each get their own; a village split
// between two municipalities gets one for each.
std::vector<AddressOldCity> OldMunicipalities(const std::vector<MunicipalChange>& changes,
                                              const std::map<std::int32_t, std::u16string>& cities);

} // namespace ubin
