#include "data/profile_decode.h"

#include <cstring>

#include "core/wire.h"
#include "data/profile_decode_simd.h"

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

void generic_single_values(const std::uint8_t* samples, int count, double divisor, vorex_profile& profile) {
    std::uint16_t* raw = profile.raw_values.data();
    for (int i = 0; i < count; ++i) {
        const std::uint16_t v = vorex_wire::load_u16_le(samples + 2 * i);
        raw[i] = v;
        if (v != 0) profile.points.push_back({static_cast<double>(i), static_cast<double>(v) / divisor});
    }
}

void generic_pairs(const std::uint8_t* samples, int count, double x_scale, double z_scale, double divisor,
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

// The vector kernels know the point count before they write, so the
// points are sized once, from the size they had, and overwritten in place:
// the same record as emptying and appending, without first zeroing the
// entries a record reused from the previous profile already has.
void vector_decode(decode_path path, const decode_job& job, bool pairs, vorex_profile& profile) {
    profile.points.resize(count_points(path, job, pairs));
    if (pairs) return decode_pairs(path, job, profile.points.data());
    // Vector paths exist only on little-endian x86: the samples are the
    // raw values as they lie.
    std::memcpy(profile.raw_values.data(), job.samples, static_cast<std::size_t>(job.count) * 2);
    decode_single_values(path, job, profile.points.data());
}

}  // namespace

const profile_layout* layout_of(int data_type) {
    if (data_type < first_type || data_type > last_type) return nullptr;
    return &layouts[data_type - first_type];
}

decode_outcome decode_profile(const std::uint8_t* datagram, std::size_t length, vorex_profile& profile) {
    return decode_profile(datagram, length, profile, best_decode_path());
}

decode_outcome decode_profile(const std::uint8_t* datagram, std::size_t length, vorex_profile& profile,
                              decode_path path) {
    if (length < profile_header_size) return decode_outcome::too_short;
    const profile_layout* layout = layout_of(datagram[at_data_type]);
    if (!layout || length < layout->size) return decode_outcome::malformed;

    // Every allocation the decode may need happens before the record
    // changes: a failed one leaves the caller's record as it was.
    const auto most = static_cast<std::size_t>(layout->points);
    profile.raw_values.reserve(most);
    profile.points.reserve(most);
    std::memcpy(&profile.header, datagram, profile_header_size);
    profile.raw_values.resize(most);

    const decode_job job{datagram + profile_header_size, layout->points,
                         static_cast<double>(vorex_wire::load_u16_le(datagram + at_x_scale)),
                         static_cast<double>(vorex_wire::load_u16_le(datagram + at_z_scale)),
                         static_cast<double>(vorex_wire::load_u16_le(datagram + at_scale_divisor))};
    if (path != decode_path::generic) {
        vector_decode(path, job, layout->pairs, profile);
    } else {
        profile.points.clear();
        if (layout->pairs) generic_pairs(job.samples, job.count, job.x_scale, job.z_scale, job.divisor, profile);
        else generic_single_values(job.samples, job.count, job.divisor, profile);
    }
    return decode_outcome::accepted;
}

}  // namespace vorex_data
