// The control's published interface description: the library, its dispatch and event
// interfaces and every entry of the method table with its dispatch number, described name, kind,
// parameters and result type. Built from the method table itself, as JSON; the build writes it
// beside the program and hosts build their page API from it.
#pragma once

#include "qsft/json.h"

namespace qs::app {

json::Value InterfaceDescription();

}  // namespace qs::app
