#pragma once
// The identity and member ids of the small control the component tests load as a library.
#include "qt/component/class_info.h"

namespace ubin::component::test {

inline constexpr char kTesterProgramId[] = "Sample.Tester";
inline constexpr char kTesterClassId[] = "{3C1F0A52-7D4B-4E08-9A61-2B5E8C7D9F10}";
inline constexpr char kBrokenProgramId[] = "Sample.Broken";

inline constexpr MemberId kGreet = 0x60030001;   // method (name: text by reference) -> text
inline constexpr MemberId kFire = 0x60030002;    // method: raises Clicked, then counts it
inline constexpr MemberId kFail = 0x60030003;    // method: throws
inline constexpr MemberId kResize = 0x60030004;  // method (width, height: int32 twips)
inline constexpr MemberId kAbout = -552;         // method
inline constexpr MemberId kCaption = 0x68030000; // get/let text, notice "Caption"
inline constexpr MemberId kWidth = 0x68030001;   // get/let single, notice "Width"
inline constexpr MemberId kColour = 0x68030002;  // get/let colour, no notice
inline constexpr MemberId kCount = 0x68030003;   // get int32: Fire calls finished + About calls
inline constexpr MemberId kCanFocus = 0x68030004; // get int32: the site's answer
inline constexpr MemberId kClicked = 1;          // event

} // namespace ubin::component::test
