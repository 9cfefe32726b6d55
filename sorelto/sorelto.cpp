// Sorelto: the library of the UbinBangou control. Its only exports are the four entry points.
#include "sorelto/ubin_bangou.h"
#include "qt/component/exports.h"

UBIN_CONTROL_LIBRARY({&ubin::control::UbinBangouClass, &ubin::component::CreateControl<ubin::control::UbinBangou>})
