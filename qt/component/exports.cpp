#include "qt/component/exports.h"

#include "qt/component/registry.h"

#include <cstring>
#include <map>

namespace ubin::component::library {

namespace {

class EntryFactory final : public ClassFactory {
public:
    explicit EntryFactory(const ClassEntry& entry) : entry_(entry) {}
    const ClassInfo& classInfo() const override { return entry_.info(); }
    Result<std::unique_ptr<Control>> CreateInstance() override
    {
        try {
            Result<std::unique_ptr<Control>> r = entry_.create();
            if (r && !r.value()) return Status(kErrorFailed, entry_.info().className + ": no instance was made");
            return r;
        } catch (const std::exception& e) {
            return Status(kErrorFailed, entry_.info().className + ": " + e.what());
        } catch (...) {
            return Status(kErrorFailed, entry_.info().className + ": unknown error");
        }
    }

private:
    const ClassEntry& entry_;
};

int Fail(const Status& s, char* message, std::size_t messageSize)
{
    CopyMessage(s.message(), message, messageSize);
    return s.code();
}

} // namespace

void CopyMessage(const std::string& text, char* message, std::size_t messageSize) noexcept
{
    if (!message || messageSize == 0) return;
    std::size_t n = std::min(text.size(), messageSize - 1);
    // Never cut a UTF-8 sequence: step back over continuation bytes.
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(message, text.data(), n);
    message[n] = '\0';
}

int RegisterServer(std::span<const ClassEntry> classes, const char* registryPath, const char* libraryPath,
                   char* message, std::size_t messageSize) noexcept
{
    try {
        if (!registryPath || !*registryPath || !libraryPath || !*libraryPath)
            return Fail(Status(kErrorInvalidArgument, "the registry path and the library path are required"), message,
                        messageSize);
        if (!std::filesystem::path(libraryPath).is_absolute())
            return Fail(Status(kErrorInvalidArgument, std::string("the library path must be absolute: ") + libraryPath),
                        message, messageSize);
        std::vector<RegisteredClass> entries;
        for (const auto& c : classes) entries.push_back({c.info(), libraryPath});
        return Fail(RegisterClasses(registryPath, entries), message, messageSize);
    } catch (const std::exception& e) {
        return Fail(Status(kErrorFailed, e.what()), message, messageSize);
    }
}

int UnregisterServer(std::span<const ClassEntry> classes, const char* registryPath, char* message,
                     std::size_t messageSize) noexcept
{
    try {
        if (!registryPath || !*registryPath)
            return Fail(Status(kErrorInvalidArgument, "the registry path is required"), message, messageSize);
        std::vector<std::string> ids;
        for (const auto& c : classes) ids.push_back(c.info().classId);
        return Fail(UnregisterClasses(registryPath, ids), message, messageSize);
    } catch (const std::exception& e) {
        return Fail(Status(kErrorFailed, e.what()), message, messageSize);
    }
}

int GetClassObject(std::span<const ClassEntry> classes, const char* classId, ClassFactory** factory) noexcept
{
    if (!factory) return kErrorInvalidArgument;
    *factory = nullptr;
    if (!classId) return kErrorInvalidArgument;
    try {
        static std::map<const ClassEntry*, EntryFactory> factories;
        for (const auto& c : classes) {
            if (SameId(c.info().classId, classId)) {
                *factory = &factories.try_emplace(&c, c).first->second;
                return kOk;
            }
        }
    } catch (...) {
        return kErrorFailed;
    }
    return kErrorClassNotAvailable;
}

int CanUnloadNow() noexcept { return ControlBase::LiveInstances() == 0 ? kOk : kFalse; }

} // namespace ubin::component::library
