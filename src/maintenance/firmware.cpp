// Placeholder until firmware upload lands.
#include "vorex.h"

bool vorex::write_firmware_image(const char*) { return false; }
bool vorex::write_firmware_image(const char*, const progress_callback&) { return false; }
bool vorex::flush_firmware_image() { return false; }
