#pragma once
// The boundary between a host and a control library: the four functions every control library
// exports with C linkage, and nothing else. Texts are UTF-8. Results are ResultCode values
// (result.h): 0 and above success, below 0 failure.
#include <cstddef>

namespace ubin::component {
class ClassFactory;
} // namespace ubin::component

extern "C" {

// Writes every class of the library into the class registry file `registryPath`, naming
// `libraryPath` (absolute) as the library that serves them. On failure, when `message` is not
// null, a NUL-terminated message of at most `messageSize` bytes (including the NUL) says why.
typedef int (*UbinDllRegisterServer)(const char* registryPath, const char* libraryPath, char* message,
                                     std::size_t messageSize);

// Removes the library's classes from the registry file; success when they were not registered.
typedef int (*UbinDllUnregisterServer)(const char* registryPath, char* message, std::size_t messageSize);

// Hands out the class factory of the class `classId`, or kErrorClassNotAvailable. The factory
// belongs to the library and stays valid while the library is loaded; it is not released.
typedef int (*UbinDllGetClassObject)(const char* classId, ubin::component::ClassFactory** factory);

// kOk (0) when no instance of any class of the library is alive and the library may be
// unloaded, kFalse (1) otherwise.
typedef int (*UbinDllCanUnloadNow)();

} // extern "C"

namespace ubin::component {

// The names under which a host resolves the exports.
inline constexpr char kRegisterServerSymbol[] = "DllRegisterServer";
inline constexpr char kUnregisterServerSymbol[] = "DllUnregisterServer";
inline constexpr char kGetClassObjectSymbol[] = "DllGetClassObject";
inline constexpr char kCanUnloadNowSymbol[] = "DllCanUnloadNow";

// Messages longer than this are cut (at a character boundary) by the library.
inline constexpr std::size_t kMessageCapacity = 1024;

} // namespace ubin::component
