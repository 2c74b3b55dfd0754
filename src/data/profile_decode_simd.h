// Vector kernels of the profile decoder, chosen at run time by what the
// processor supports. Each gives bit for bit what the generic loop gives:
// every product is formed in double and then divided, or multiplied by the
// divisor's reciprocal and corrected once by fused multiply-add, which
// rounds identically; one lane per point. Built for x86 of both widths.
#ifndef VOREX_DATA_PROFILE_DECODE_SIMD_H
#define VOREX_DATA_PROFILE_DECODE_SIMD_H

#include <cstddef>
#include <cstdint>

#include "vorex.h"

namespace vorex_data {

// generic_fma is the generic loop dividing by the corrected reciprocal, for
// processors with FMA but no AVX2 (the AVX2 path needs FMA as well).
enum class decode_path { generic, avx2, avx512, generic_fma };

// True when this build carries the path and the processor runs it.
bool decode_path_supported(decode_path path);
// The fastest supported path, decided once.
decode_path best_decode_path();

// What the kernels need of one datagram.
struct decode_job {
    const std::uint8_t* samples;  // the first sample, past the header
    int count;                    // points of the data type, a multiple of 8
    double x_scale, z_scale, divisor;
};

// The number of points the samples yield (non-zero values, or non-zero Z
// for pairs). REQUIRES: a vector path that decode_path_supported accepts.
std::size_t count_points(decode_path path, const decode_job& job, bool pairs);
// Writes exactly count_points(...) points to `out`, in index order.
void decode_pairs(decode_path path, const decode_job& job, vorex_point_t* out);
void decode_single_values(decode_path path, const decode_job& job, vorex_point_t* out);

}  // namespace vorex_data

#endif
