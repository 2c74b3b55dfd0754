// Placeholder until log reading lands.
#include "vorex.h"

bool vorex::read_log(unsigned int, vorex_log_record_t*, int) { return false; }
unsigned int vorex::read_log_record_count() { return 0; }
