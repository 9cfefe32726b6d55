// ubin-regsvr LIBRARY [-u] [--registry FILE]
//
// Loads a control library and calls its DllRegisterServer (or, with -u, DllUnregisterServer)
// on the per-user class registry: $XDG_CONFIG_HOME/marubeta/classes.json, or
// ~/.config/marubeta/classes.json when XDG_CONFIG_HOME is not set. Exit status 0 on success,
// 1 otherwise.
#include "platform/component/library.h"
#include "platform/component/registry.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

void Usage()
{
    std::cerr << "usage: ubin-regsvr LIBRARY [-u] [--registry FILE]\n"
                 "  registers the control classes of LIBRARY in the class registry;\n"
                 "  -u removes them again.\n";
}

} // namespace

int main(int argc, char** argv)
{
    using namespace ubin::component;
    std::string libraryArg;
    std::filesystem::path registryPath;
    bool unregister = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-u" || arg == "/u") {
            unregister = true;
        } else if (arg == "--registry" && i + 1 < argc) {
            registryPath = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            Usage();
            return 0;
        } else if (libraryArg.empty() && !arg.empty() && arg[0] != '-') {
            libraryArg = arg;
        } else {
            Usage();
            return 1;
        }
    }
    if (libraryArg.empty()) {
        Usage();
        return 1;
    }
    if (registryPath.empty()) registryPath = DefaultRegistryPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));

    Result<std::shared_ptr<ControlLibrary>> library = ControlLibrary::Load(libraryArg);
    if (!library) {
        std::cerr << "ubin-regsvr: " << library.message() << "\n";
        return 1;
    }
    const Status s = unregister ? (*library)->UnregisterServer(registryPath) : (*library)->RegisterServer(registryPath);
    if (!s.ok()) {
        std::cerr << "ubin-regsvr: " << s.message() << "\n";
        return 1;
    }

    if (unregister) {
        std::cout << "Unregistered " << (*library)->path().string() << " from " << registryPath.string() << "\n";
        return 0;
    }
    std::cout << "Registered " << (*library)->path().string() << " in " << registryPath.string() << "\n";
    if (Result<ClassRegistry> registry = ClassRegistry::Load(registryPath)) {
        for (const auto& c : registry->classes())
            if (c.libraryPath == (*library)->path().string())
                std::cout << "  " << c.info.programId << "  " << c.info.classId << "\n";
    }
    return 0;
}
