#pragma once
// The per-user class registry: one JSON file that maps program and class identifiers to the
// library that serves the class, with the class's type library, interfaces and member table.
// It is read whole and replaced whole (a temporary file renamed over the old one).
#include "qt/component/class_info.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ubin::component {

inline constexpr char kRegistryFileName[] = "classes.json";

// <configHome>/marubeta/classes.json; the program passes base/program.h's ConfigHome() (nothing
// here reads the environment).
std::filesystem::path DefaultRegistryPath(const std::filesystem::path& configHome);

struct RegisteredClass {
    ClassInfo info;
    std::string libraryPath; // absolute path of the library, UTF-8
};

class ClassRegistry {
public:
    // A missing file is an empty registry; an unreadable one is kErrorRegistry, a damaged one
    // kErrorBadFile.
    static Result<ClassRegistry> Load(const std::filesystem::path& path);
    static Result<ClassRegistry> Parse(std::string_view bytes, const std::string& where = "class registry");

    // The file's bytes: the same registry always gives the same bytes.
    std::string Serialize() const;
    // Replaces the file atomically; a registry without classes removes the file instead, so
    // that registering and unregistering a class leaves a folder as it was.
    Status Save(const std::filesystem::path& path) const;

    const std::vector<RegisteredClass>& classes() const { return classes_; }

    // Program identifiers compare without regard to case; class identifiers ignore the case
    // of their hexadecimal digits. Null when absent.
    const RegisteredClass* FindByProgramId(std::string_view programId) const;
    const RegisteredClass* FindByClassId(std::string_view classId) const;
    // A class identifier when the text is shaped like one, otherwise a program identifier.
    const RegisteredClass* Resolve(std::string_view programOrClassId) const;

    // Adds the class, or replaces the entry of the same class identifier where it stands.
    // Fails when the class is not valid or its program identifier belongs to another class.
    Status Add(RegisteredClass entry);
    // Removes the class; false when it was not registered.
    bool Remove(std::string_view classId);

private:
    std::vector<RegisteredClass> classes_;
};

// Load, Add each class, Save: what DllRegisterServer does.
Status RegisterClasses(const std::filesystem::path& registryPath, const std::vector<RegisteredClass>& entries);
// Load, Remove each class, Save (only when something was removed): what DllUnregisterServer does.
Status UnregisterClasses(const std::filesystem::path& registryPath, const std::vector<std::string>& classIds);

} // namespace ubin::component
