#pragma once
// The four exports of a control library, written for it. A library lists its classes once:
//
//     const ubin::component::ClassInfo& UbinBangouClass();           // the static description
//     UBIN_CONTROL_LIBRARY({&UbinBangouClass, &ubin::component::CreateControl<UbinBangou>})
//
// and builds with ubin_add_control_library() (CMake), which exports exactly these four names.
#include "qt/component/abi.h"
#include "qt/component/control_base.h"

#include <cstddef>
#include <memory>
#include <span>
#include <type_traits>

namespace ubin::component {

using CreateFunction = Result<std::unique_ptr<Control>> (*)();

struct ClassEntry {
    const ClassInfo& (*info)();
    CreateFunction create;
};

// Constructs T (a ControlBase) and runs its Initialize; exceptions become kErrorFailed.
template <class T>
Result<std::unique_ptr<Control>> CreateControl()
{
    try {
        auto control = std::make_unique<T>();
        if (Status s = control->Initialize(); !s.ok()) return s;
        return std::unique_ptr<Control>(std::move(control));
    } catch (const std::exception& e) {
        return Status(kErrorFailed, e.what());
    }
}

namespace library {

// The bodies of the four exports. None throws.
int RegisterServer(std::span<const ClassEntry> classes, const char* registryPath, const char* libraryPath,
                   char* message, std::size_t messageSize) noexcept;
int UnregisterServer(std::span<const ClassEntry> classes, const char* registryPath, char* message,
                     std::size_t messageSize) noexcept;
int GetClassObject(std::span<const ClassEntry> classes, const char* classId, ClassFactory** factory) noexcept;
int CanUnloadNow() noexcept;

// Copies a message into a caller's buffer, cut at a UTF-8 character boundary; nothing when
// the buffer is null or empty.
void CopyMessage(const std::string& text, char* message, std::size_t messageSize) noexcept;

} // namespace library
} // namespace ubin::component

#if defined(_WIN32)
#define UBIN_COMPONENT_EXPORT extern "C" __declspec(dllexport)
#else
#define UBIN_COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#define UBIN_CONTROL_LIBRARY(...)                                                                                    \
    namespace {                                                                                                      \
    const ::ubin::component::ClassEntry ubinControlClasses_[] = {__VA_ARGS__};                                       \
    }                                                                                                                \
    UBIN_COMPONENT_EXPORT int DllRegisterServer(const char* registryPath, const char* libraryPath, char* message,     \
                                                std::size_t messageSize)                                             \
    {                                                                                                                \
        return ::ubin::component::library::RegisterServer(ubinControlClasses_, registryPath, libraryPath, message,   \
                                                          messageSize);                                              \
    }                                                                                                                \
    UBIN_COMPONENT_EXPORT int DllUnregisterServer(const char* registryPath, char* message, std::size_t messageSize)  \
    {                                                                                                                \
        return ::ubin::component::library::UnregisterServer(ubinControlClasses_, registryPath, message, messageSize); \
    }                                                                                                                \
    UBIN_COMPONENT_EXPORT int DllGetClassObject(const char* classId, ::ubin::component::ClassFactory** factory)       \
    {                                                                                                                \
        return ::ubin::component::library::GetClassObject(ubinControlClasses_, classId, factory);                    \
    }                                                                                                                \
    UBIN_COMPONENT_EXPORT int DllCanUnloadNow() { return ::ubin::component::library::CanUnloadNow(); }               \
    static_assert(std::is_same_v<decltype(&DllRegisterServer), UbinDllRegisterServer> &&                             \
                  std::is_same_v<decltype(&DllUnregisterServer), UbinDllUnregisterServer> &&                         \
                  std::is_same_v<decltype(&DllGetClassObject), UbinDllGetClassObject> &&                             \
                  std::is_same_v<decltype(&DllCanUnloadNow), UbinDllCanUnloadNow>,                                   \
                  "the exports must match abi.h");
