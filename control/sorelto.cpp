// Sorelto: the library of the UbinBangou control. Its only exports are the four entry points.
#include "exports.h"
#include "ubin_bangou.h"

UBIN_CONTROL_LIBRARY({&ubin::control::UbinBangouClass, &ubin::component::CreateControl<ubin::control::UbinBangou>})
