// The simulated sensor's firmware store and log.
// Placeholder until firmware and log serving land.
#include "sim/device_model.h"

namespace vorex_sim {

std::vector<reply> device_model::handle_firmware(const vorex_wire::header&, const bytes&) { return {}; }
std::vector<reply> device_model::handle_log(const vorex_wire::header&, const bytes&) { return {}; }

}  // namespace vorex_sim
