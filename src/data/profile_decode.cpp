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

// How the generic loops divide a numerator by the record's divisor: by the
// divider, or by the reciprocal corrected once with fused multiply-add,
// which rounds as the division does (see the vector kernels). Inlined into
// the FMA-built loops below, the fused operations are single instructions.
struct divided {
    double divisor;
    double operator()(double a) const { return a / divisor; }
};

struct corrected {
    double divisor, reciprocal;
    explicit corrected(double d) : divisor(d), reciprocal(1.0 / d) {}
    double operator()(double a) const {
        const double q = a * reciprocal;
        const double r = __builtin_fma(q, divisor, -a);
        return __builtin_fma(-r, reciprocal, q);
    }
};

template <typename Quotient>
inline __attribute__((always_inline)) void generic_single_values(const std::uint8_t* samples, int count,
                                                                 Quotient quotient, vorex_profile& profile) {
    std::uint16_t* raw = profile.raw_values.data();
    for (int i = 0; i < count; ++i) {
        const std::uint16_t v = vorex_wire::load_u16_le(samples + 2 * i);
        raw[i] = v;
        if (v != 0) profile.points.push_back({static_cast<double>(i), quotient(static_cast<double>(v))});
    }
}

template <typename Quotient>
inline __attribute__((always_inline)) void generic_pairs(const std::uint8_t* samples, int count, double x_scale,
                                                         double z_scale, Quotient quotient, vorex_profile& profile) {
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* s = samples + 4 * i;
        const std::uint16_t rz = vorex_wire::load_u16_le(s + 2);
        // A zero Z marks a point the sensor did not measure.
        if (rz == 0) continue;
        const double rx = vorex_wire::load_i16_le(s);
        profile.points.push_back({quotient(rx * x_scale), quotient(z_scale * static_cast<double>(rz))});
    }
}

template <typename Quotient>
inline __attribute__((always_inline)) void generic_decode(const decode_job& job, bool pairs, Quotient quotient,
                                                          vorex_profile& profile) {
    profile.points.clear();
    if (pairs) generic_pairs(job.samples, job.count, job.x_scale, job.z_scale, quotient, profile);
    else generic_single_values(job.samples, job.count, quotient, profile);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("fma")))
#endif
void generic_fma_decode(const decode_job& job, bool pairs, vorex_profile& profile) {
    // A divisor of 0 keeps the division, for the infinities and NaN.
    if (job.divisor == 0) return generic_decode(job, pairs, divided{job.divisor}, profile);
    generic_decode(job, pairs, corrected(job.divisor), profile);
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
    switch (path) {
    case decode_path::generic: generic_decode(job, layout->pairs, divided{job.divisor}, profile); break;
    case decode_path::generic_fma: generic_fma_decode(job, layout->pairs, profile); break;
    case decode_path::avx2:
    case decode_path::avx512: vector_decode(path, job, layout->pairs, profile); break;
    }
    return decode_outcome::accepted;
}

}  // namespace vorex_data
