#include "data/profile_decode.h"

#include <cstring>

#include "core/wire.h"

namespace vorex_data {
namespace {

constexpr profile_layout layouts[] = {
    {648, false, 64 + 648 * 2},    // 16
    {648, true, 64 + 648 * 4},     // 17
    {1296, false, 64 + 1296 * 2},  // 18
    {1296, true, 64 + 1296 * 4},   // 19
};
constexpr int first_type = 16;
constexpr int last_type = 19;
static_assert(layouts[3].size == max_profile_datagram, "type 19 is the largest datagram");

void decode_single_values(const std::uint8_t* samples, int count, double divisor, vorex_profile& profile) {
    std::uint16_t* raw = profile.raw_values.data();
    for (int i = 0; i < count; ++i) {
        const std::uint16_t v = vorex_wire::load_u16_le(samples + 2 * i);
        raw[i] = v;
        if (v != 0) profile.points.push_back({static_cast<double>(i), static_cast<double>(v) / divisor});
    }
}

void decode_pairs(const std::uint8_t* samples, int count, double x_scale, double z_scale, double divisor,
                  vorex_profile& profile) {
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* s = samples + 4 * i;
        const std::uint16_t rz = vorex_wire::load_u16_le(s + 2);
        // A zero Z marks a point the sensor did not measure.
        if (rz == 0) continue;
        const double rx = vorex_wire::load_i16_le(s);
        profile.points.push_back({(rx * x_scale) / divisor, (z_scale * static_cast<double>(rz)) / divisor});
    }
}

}  // namespace

const profile_layout* layout_of(int data_type) {
    if (data_type < first_type || data_type > last_type) return nullptr;
    return &layouts[data_type - first_type];
}

decode_outcome decode_profile(const std::uint8_t* datagram, std::size_t length, vorex_profile& profile) {
    if (length < profile_header_size) return decode_outcome::too_short;
    const profile_layout* layout = layout_of(datagram[at_data_type]);
    if (!layout || length < layout->size) return decode_outcome::malformed;

    std::memcpy(&profile.header, datagram, profile_header_size);
    profile.points.clear();
    profile.raw_values.resize(static_cast<std::size_t>(layout->points));

    const double divisor = vorex_wire::load_u16_le(datagram + at_scale_divisor);
    const std::uint8_t* samples = datagram + profile_header_size;
    if (layout->pairs) {
        decode_pairs(samples, layout->points, vorex_wire::load_u16_le(datagram + at_x_scale),
                     vorex_wire::load_u16_le(datagram + at_z_scale), divisor, profile);
    } else {
        decode_single_values(samples, layout->points, divisor, profile);
    }
    return decode_outcome::accepted;
}

}  // namespace vorex_data
