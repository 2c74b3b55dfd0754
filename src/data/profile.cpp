// Placeholder until profile reception lands.
#include "core/state.h"
#include "vorex.h"

bool vorex::get_result(vorex_profile&) { return false; }
