// ubin-regsvr LIBRARY [-u] [--registry FILE]
//
// Loads a control library and calls its DllRegisterServer (or, with -u, DllUnregisterServer)
// on the per-user class registry: $XDG_CONFIG_HOME/marubeta/classes.json, or
// ~/.config/marubeta/classes.json when XDG_CONFIG_HOME is not set. Exit status 0 on success,
// 1 when the library cannot be (un)registered, 2 for a command line it does not understand.
#include "platform/component/library.h"
#include "base/program.h"
#include "platform/component/registry.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr int kExitUsage = 2;

void Usage(std::ostream& to)
{
    to << "usage: ubin-regsvr LIBRARY [-u] [--registry FILE]\n"
          "  registers the control classes of LIBRARY (for example <prefix>/lib/marubeta/libsorelto.so)\n"
          "  in the per-user class registry, $XDG_CONFIG_HOME/marubeta/classes.json\n"
          "  (~/.config/marubeta/classes.json); hosts such as quillot find the classes there.\n"
          "  -u               remove them again\n"
          "  --registry FILE  use FILE as the class registry\n"
          "  -h, --help       show this text\n"
          "  --version        show the version\n";
}

int Refuse(const std::string& problem)
{
    std::cerr << "ubin-regsvr: " << problem << " (ubin-regsvr --help shows how to use it)\n";
    return kExitUsage;
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
        } else if (arg == "--registry") {
            if (i + 1 >= argc) return Refuse("--registry needs a FILE");
            registryPath = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            Usage(std::cout);
            return 0;
        } else if (arg == "--version") {
            std::cout << "ubin-regsvr " << UBIN_VERSION << "\n";
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            return Refuse("unknown option " + arg);
        } else if (libraryArg.empty() && !arg.empty()) {
            libraryArg = arg;
        } else {
            return Refuse("one LIBRARY at a time, not also " + arg);
        }
    }
    if (libraryArg.empty()) return Refuse("no LIBRARY given");
    if (registryPath.empty()) registryPath = DefaultRegistryPath(ubin::ConfigHome());

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
