// The synthetic scene the simulated sensor measures.
// Placeholder until the profile generator lands: a flat plane.
#include "sim/sensor_sim.h"

namespace vorex_sim {

bytes make_profile(int data_type, std::uint32_t) {
    const bool pairs = data_type == 17 || data_type == 19;
    const std::size_t points = (data_type == 16 || data_type == 17) ? 648 : 1296;
    bytes out(64 + points * (pairs ? 4 : 2), 0);
    out[0] = static_cast<std::uint8_t>(data_type);
    vorex_wire::store_u16_le(&out[28], 1);
    vorex_wire::store_u16_le(&out[30], 1);
    vorex_wire::store_u16_le(&out[32], 64);
    for (std::size_t i = 0; i < points; ++i) {
        std::uint8_t* s = &out[64 + i * (pairs ? 4 : 2)];
        if (pairs) {
            vorex_wire::store_u16_le(s, static_cast<std::uint16_t>(i));
            vorex_wire::store_u16_le(s + 2, 1000);
        } else {
            vorex_wire::store_u16_le(s, 1000);
        }
    }
    return out;
}

}  // namespace vorex_sim
