// Placeholder until image reception lands.
#include "vorex.h"

bool vorex::get_image(unsigned char*) { return false; }
