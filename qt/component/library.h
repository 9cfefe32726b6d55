#pragma once
// A control library loaded by a host: the four exports resolved and wrapped. Each
// ControlLibrary holds one reference of the system's loader (dlopen / LoadLibrary); it gives it
// back when destroyed and the library says it can be unloaded (DllCanUnloadNow), otherwise the
// library stays loaded for the rest of the run.
#include "qt/component/abi.h"
#include "qt/component/result.h"

#include <filesystem>
#include <memory>
#include <string_view>

namespace ubin::component {

class ControlLibrary {
public:
    // Loads the library and resolves the four exports; kErrorLibrary names the file and what
    // is missing.
    static Result<std::shared_ptr<ControlLibrary>> Load(const std::filesystem::path& path);
    ~ControlLibrary();
    ControlLibrary(const ControlLibrary&) = delete;
    ControlLibrary& operator=(const ControlLibrary&) = delete;

    // The absolute path the library was loaded from.
    const std::filesystem::path& path() const { return path_; }

    // DllRegisterServer with this library's path / DllUnregisterServer.
    Status RegisterServer(const std::filesystem::path& registryPath) const;
    Status UnregisterServer(const std::filesystem::path& registryPath) const;
    // DllGetClassObject; the factory lives as long as the library stays loaded.
    Result<ClassFactory*> GetClassObject(std::string_view classId) const;
    // DllCanUnloadNow: true when no instance is alive.
    bool CanUnloadNow() const;

private:
    ControlLibrary() = default;

    std::filesystem::path path_;
    void* handle_ = nullptr; // dlopen / LoadLibrary handle; each ControlLibrary holds one reference
    UbinDllRegisterServer register_ = nullptr;
    UbinDllUnregisterServer unregister_ = nullptr;
    UbinDllGetClassObject getClassObject_ = nullptr;
    UbinDllCanUnloadNow canUnloadNow_ = nullptr;
};

} // namespace ubin::component
