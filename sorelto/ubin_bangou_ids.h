#pragma once
// The identity of the UbinBangou control as hosts see it: its identifiers, program identifier,
// member ids and the keys of its saved properties. Hosts include this header only; they reach
// the control through the class registry, never by linking the library.
#include <cstdint>

namespace ubin::control {

// Chosen once; hosts keep them in their saved forms. Never change them.
inline constexpr char kTypeLibraryId[] = "{27800689-FA74-4C64-8987-A569AF120C22}";
inline constexpr char kClassId[] = "{F03D8099-6A40-4260-B52C-FF33515262A9}";
inline constexpr char kDefaultInterfaceId[] = "{9DABCD88-B000-4DF6-A63F-159270E3EFA9}";
inline constexpr char kEventInterfaceId[] = "{A9CC8E0A-45BF-43D0-9DF7-C849DAFAAADD}";

inline constexpr char kTypeLibraryName[] = "Marubeta";
inline constexpr char kClassName[] = "UbinBangou";
inline constexpr char kProgramId[] = "Marubeta.UbinBangou";
inline constexpr char kDefaultInterfaceName[] = "_UbinBangou";
inline constexpr char kEventInterfaceName[] = "__UbinBangou";

// Members of _UbinBangou, in interface order.
inline constexpr std::int32_t kSconLoad = 0x6003000B;      // method
inline constexpr std::int32_t kSconSave = 0x6003000C;      // method
inline constexpr std::int32_t kUbinGetOcx = 0x6003002D;    // method (ubinReq: text, by reference)
inline constexpr std::int32_t kBackColor = 0x6803000A;     // get/let colour
inline constexpr std::int32_t kOptionBackColor = 0x68030009; // get/let colour, no change notice
inline constexpr std::int32_t kForeColor = 0x68030008;     // get/let colour
inline constexpr std::int32_t kUbin1 = 0x68030007;         // get/let text (IT1)
inline constexpr std::int32_t kUbin2 = 0x68030006;         // get/let text (IT2)
inline constexpr std::int32_t kUbin3 = 0x68030005;         // get text (IT3)
inline constexpr std::int32_t kUbin4 = 0x68030004;         // get text (IT4)
inline constexpr std::int32_t kUbin5 = 0x68030003;         // get/let text (IT5)
inline constexpr std::int32_t kUbin6 = 0x68030002;         // get/let text (IT6)
inline constexpr std::int32_t kClear = 0x60030033;         // method
inline constexpr std::int32_t kShowVerDlg = -552;          // method: the about box
inline constexpr std::int32_t kSWidth = 0x68030001;        // get/let single
inline constexpr std::int32_t kSHeight = 0x68030000;       // get/let single

// The event of __UbinBangou: raised after every result the control puts on display.
inline constexpr std::int32_t kClickDisp = 1;

// Design values.
inline constexpr int kDesignWidthTwips = 6180;
inline constexpr int kDesignHeightTwips = 5070;
inline constexpr std::uint32_t kDesignBackColour = 0x8000000A;
inline constexpr std::uint32_t kDesignOptionColours[5] = {0x00C0FFC0, 0x00008000, 0x0000FF00, 0x0000C000, 0x0080FF80};

} // namespace ubin::control
