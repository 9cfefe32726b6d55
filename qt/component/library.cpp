#include "qt/component/library.h"

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace ubin::component {

namespace {

Status FromCall(int code, const char* message, const std::string& what)
{
    if (Succeeded(code)) return Status(code, {});
    std::string text = what;
    if (message && *message) text += ": " + std::string(message);
    return Status(code, text);
}

// The system's loader, used directly: its reference counting is exact, so that one owner's
// unload never takes the library from under another.
void* OpenLibrary(const std::filesystem::path& path, std::string& error)
{
#if defined(_WIN32)
    HMODULE h = ::LoadLibraryW(path.wstring().c_str());
    if (!h) error = "error " + std::to_string(::GetLastError());
    return reinterpret_cast<void*>(h);
#else
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) error = ::dlerror();
    return h;
#endif
}

void* Symbol(void* handle, const char* name)
{
#if defined(_WIN32)
    return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
#else
    return ::dlsym(handle, name);
#endif
}

void CloseLibrary(void* handle)
{
#if defined(_WIN32)
    ::FreeLibrary(reinterpret_cast<HMODULE>(handle));
#else
    ::dlclose(handle);
#endif
}

} // namespace

Result<std::shared_ptr<ControlLibrary>> ControlLibrary::Load(const std::filesystem::path& path)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) return Status(kErrorLibrary, path.string() + ": " + ec.message());
    if (!std::filesystem::is_regular_file(absolute, ec))
        return Status(kErrorLibrary, absolute.string() + ": no such library file");

    std::shared_ptr<ControlLibrary> lib(new ControlLibrary);
    lib->path_ = std::filesystem::weakly_canonical(absolute, ec);
    if (ec) lib->path_ = absolute;
    std::string error;
    lib->handle_ = OpenLibrary(lib->path_, error);
    if (!lib->handle_) return Status(kErrorLibrary, "cannot load " + lib->path_.string() + ": " + error);

    auto resolve = [&](const char* name) { return Symbol(lib->handle_, name); };
    lib->register_ = reinterpret_cast<UbinDllRegisterServer>(resolve(kRegisterServerSymbol));
    lib->unregister_ = reinterpret_cast<UbinDllUnregisterServer>(resolve(kUnregisterServerSymbol));
    lib->getClassObject_ = reinterpret_cast<UbinDllGetClassObject>(resolve(kGetClassObjectSymbol));
    lib->canUnloadNow_ = reinterpret_cast<UbinDllCanUnloadNow>(resolve(kCanUnloadNowSymbol));
    std::string missing;
    for (auto [fn, name] : {std::pair{reinterpret_cast<const void*>(lib->register_), kRegisterServerSymbol},
                            std::pair{reinterpret_cast<const void*>(lib->unregister_), kUnregisterServerSymbol},
                            std::pair{reinterpret_cast<const void*>(lib->getClassObject_), kGetClassObjectSymbol},
                            std::pair{reinterpret_cast<const void*>(lib->canUnloadNow_), kCanUnloadNowSymbol}}) {
        if (!fn) missing += (missing.empty() ? "" : ", ") + std::string(name);
    }
    if (!missing.empty()) {
        CloseLibrary(lib->handle_);
        lib->handle_ = nullptr;
        return Status(kErrorLibrary, lib->path_.string() + " is not a control library: it lacks " + missing);
    }
    return lib;
}

ControlLibrary::~ControlLibrary()
{
    if (handle_ && CanUnloadNow()) CloseLibrary(handle_);
}

Status ControlLibrary::RegisterServer(const std::filesystem::path& registryPath) const
{
    char message[kMessageCapacity] = {};
    const int code = register_(registryPath.string().c_str(), path_.string().c_str(), message, sizeof message);
    return FromCall(code, message, "registering " + path_.string() + " failed");
}

Status ControlLibrary::UnregisterServer(const std::filesystem::path& registryPath) const
{
    char message[kMessageCapacity] = {};
    const int code = unregister_(registryPath.string().c_str(), message, sizeof message);
    return FromCall(code, message, "unregistering " + path_.string() + " failed");
}

Result<ClassFactory*> ControlLibrary::GetClassObject(std::string_view classId) const
{
    ClassFactory* factory = nullptr;
    const int code = getClassObject_(std::string(classId).c_str(), &factory);
    if (!Succeeded(code) || !factory)
        return Status(Succeeded(code) ? kErrorClassNotAvailable : code,
                      path_.string() + " does not serve class " + std::string(classId));
    return factory;
}

bool ControlLibrary::CanUnloadNow() const { return canUnloadNow_() == kOk; }

} // namespace ubin::component
