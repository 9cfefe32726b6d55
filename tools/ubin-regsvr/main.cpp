// ubin-regsvr LIBRARY [-u] [--registry FILE]
//
// Loads a control library and calls its DllRegisterServer (or, with -u, DllUnregisterServer)
// on the per-user class registry: $XDG_CONFIG_HOME/marubeta/classes.json, or
// ~/.config/marubeta/classes.json when XDG_CONFIG_HOME is not set. Exit status 0 on success,
// 1 when the library cannot be (un)registered, 2 for a command line it does not understand.
#include "qt/component/library.h"
#include "base/program.h"
#include "qt/component/registry.h"
#include "base/path_text.h"
#include "tools/command_line/command_line.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char kHelp[] =
    "usage: ubin-regsvr LIBRARY [-u] [--registry FILE]\n"
    "  registers the control classes of LIBRARY (for example /usr/lib/x86_64-linux-gnu/marubeta/libsorelto.so\n"
    "  as the Debian package installs it)\n"
    "  in the per-user class registry, $XDG_CONFIG_HOME/marubeta/classes.json\n"
    "  (~/.config/marubeta/classes.json); hosts such as quillot find the classes there.\n"
    "  -u, /u           remove them again\n"
    "  --registry FILE  use FILE as the class registry\n"
    "  -h, --help       show this text\n"
    "  --version        show the version\n"
    "Exit status: 0 done, 1 when the library cannot be (un)registered, 2 for a command line it\n"
    "does not understand.\n";

int Refuse(const std::string& problem)
{
    std::cerr << ubin::UsageLine("ubin-regsvr", problem) << '\n';
    return ubin::kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace ubin::component;
    CLI::App app("Registers a control library in the per-user class registry.", "ubin-regsvr");
    std::vector<std::string> words;
    std::string registryArg;
    bool unregister = false;
    app.add_flag("-u", unregister, "remove the classes again");
    app.add_option("--registry", registryArg, "use FILE as the class registry");
    app.add_option("library", words, "the control library");
    ubin::AddVersionFlag(app, std::cout, [] { return std::string("ubin-regsvr " UBIN_VERSION); });
    if (const auto status = ubin::ParseCommandLine(app, ubin::ProgramArguments(argc, argv), std::cout, std::cerr, kHelp))
        return *status;
    std::string libraryArg;
    for (const std::string& word : words) {
        if (word == "/u") unregister = true; // the Windows tool's own spelling
        else if (libraryArg.empty() && !word.empty()) libraryArg = word;
        else return Refuse("one LIBRARY at a time, not also " + word);
    }
    if (libraryArg.empty()) return Refuse("no LIBRARY given");
    std::filesystem::path registryPath = ubin::PathFromUtf8(registryArg);
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
