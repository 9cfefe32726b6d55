#pragma once
// A host's saved form: for each control on the host's window, its name, its class, its extent
// and its property bag. Kept in one JSON file, replaced atomically.
#include "qt/component/property_bag.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ubin::component {

// A control's size in hundredths of a millimetre.
struct Extent {
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const Extent&, const Extent&) = default;
};

// Lengths between twips (1/1440 inch) and hundredths of a millimetre (2540 to the inch),
// rounded to the nearest integer, halves to the even one: 6180 twips are 10901.
std::int32_t TwipsToHimetric(std::int32_t twips);
std::int32_t HimetricToTwips(std::int32_t himetric);

struct SavedControl {
    std::string name;      // the host's name for the control ("UbinBangou1")
    std::string programId; // the class as the host created it
    std::string classId;
    Extent extent;
    PropertyBag properties;
    friend bool operator==(const SavedControl&, const SavedControl&) = default;
};

struct SavedForm {
    std::vector<SavedControl> controls;

    SavedControl* Find(std::string_view name);
    const SavedControl* Find(std::string_view name) const;
    // Replaces the control of the same name, or appends it.
    void Put(SavedControl control);
    friend bool operator==(const SavedForm&, const SavedForm&) = default;
};

std::string SerializeSavedForm(const SavedForm& form);
Result<SavedForm> ParseSavedForm(std::string_view bytes, const std::string& where = "saved form");
// A missing file is kErrorBadFile too: a host decides itself whether that means "new".
Result<SavedForm> ReadSavedForm(const std::filesystem::path& path);
Status WriteSavedForm(const std::filesystem::path& path, const SavedForm& form);

} // namespace ubin::component
