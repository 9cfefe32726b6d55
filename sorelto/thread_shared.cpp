#include "sorelto/thread_shared.h"

#include "base/errors.h"

#include <cstdlib>
#include <memory>
#include <system_error>

namespace ubin::control {

ThreadShared& ThisThreadShared()
{
    thread_local std::unique_ptr<ThreadShared> shared;
    if (!shared) shared = std::make_unique<ThreadShared>();
    return *shared;
}

void TakeUpNewBuild(ThreadShared& shared)
{
    if (!shared.watch.Replaced(shared.directory)) return;
    DirectoryState fresh;
    fresh.dataFolder = shared.directory.dataFolder;
    try {
        fresh.StartUpControl();
    } catch (const Error&) {
        return;
    }
    shared.directory.Swap(fresh); // `fresh` holds the old build's files now and closes them
    shared.watch.Opened(shared.directory);
    ++shared.build;
}

PlaceContext ControlPlaces()
{
    // The control has no installation folder of its own: its search order never reaches one.
    return ProgramPlaces(Program::Control, {});
}

} // namespace ubin::control
