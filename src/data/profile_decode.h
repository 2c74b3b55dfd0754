// Profile datagrams: their layout by data type and the decoder that turns
// one datagram into the caller's record. Pure: bytes in, record out, no
// socket and no process-wide state, so fuzzers and benchmarks call it
// directly.
#ifndef VOREX_DATA_PROFILE_DECODE_H
#define VOREX_DATA_PROFILE_DECODE_H

#include <cstddef>
#include <cstdint>

#include "data/profile_decode_simd.h"
#include "vorex.h"

namespace vorex_data {

constexpr std::size_t profile_header_size = sizeof(vorex_profile_header_t);
// The largest datagram any data type needs; one reception takes no more.
constexpr std::size_t max_profile_datagram = 5248;

// Byte offsets inside the profile header.
constexpr std::size_t at_data_type = offsetof(vorex_profile_header_t, data_type);
constexpr std::size_t at_z_scale = offsetof(vorex_profile_header_t, z_scale);
constexpr std::size_t at_x_scale = offsetof(vorex_profile_header_t, x_scale);
constexpr std::size_t at_scale_divisor = offsetof(vorex_profile_header_t, scale_divisor);

// What a data type means on the wire.
struct profile_layout {
    int points;         // fixed by the type, never by the datagram's length
    bool pairs;         // X and Z per point, or one value
    std::size_t size;   // header and every sample
};

// The layout of data types 16..19; nullptr for any other value.
const profile_layout* layout_of(int data_type);

enum class decode_outcome {
    accepted,   // the record holds the datagram
    too_short,  // fewer than 64 bytes: not a profile at all
    malformed,  // unknown data type, or fewer bytes than the type needs
};

// Decodes `length` bytes of one profile datagram into `profile`.
// On accepted: `header` is the first 64 bytes as received; `points` was
// emptied (its storage kept) and holds one point per non-zero sample in
// index order; `raw_values` was resized to the type's point count and, for
// the single-value types, holds every sample (for the pair types its
// entries are left as they were). Every coordinate is an integer product
// formed in double and then divided by scale_divisor, so a divisor of 0
// gives infinities or NaN as IEEE 754 says.
// On any other outcome `profile` is untouched. A datagram shorter than its
// type's full size is refused rather than decoded from stale bytes.
// Runs on the fastest path this processor supports; every path gives the
// same bits.
decode_outcome decode_profile(const std::uint8_t* datagram, std::size_t length, vorex_profile& profile);
// The same on a chosen path. REQUIRES: decode_path_supported(path).
decode_outcome decode_profile(const std::uint8_t* datagram, std::size_t length, vorex_profile& profile,
                              decode_path path);

}  // namespace vorex_data

#endif
