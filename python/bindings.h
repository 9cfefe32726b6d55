#pragma once
// The parts of the module _ubin, each binding its own piece of the engine.
#include "base/errors.h"

#include <pybind11/pybind11.h>

namespace ubin::python {

// ubin.build(), its BuildReport and BuildProgress, and ubin.BuildError under ubin.Error.
void BindBuild(pybind11::module_& m, const pybind11::exception<Error>& error);

} // namespace ubin::python
