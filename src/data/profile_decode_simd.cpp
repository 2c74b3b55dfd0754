#include "data/profile_decode_simd.h"

// Both x86 widths. The 32-bit builds compute in SSE2 (the toolchain files
// ask for it) rather than the x87 unit, whose extended precision rounds a
// quotient twice: so every path gives the correctly rounded double, the
// same bits in every build.
#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE2_MATH__))
#define VOREX_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace vorex_data {

#if VOREX_X86_KERNELS
namespace {

// How the kernels divide by the record's divisor d. A d of 0 keeps the real
// division, for the infinities and NaN IEEE gives. Any other takes its
// reciprocal y once and corrects the quotient q = a*y once: under fused
// multiply-add the remainder r = q*d - a is exact, and q - r*y is the
// correctly rounded a/d for every numerator the decode forms (|a| < 2^33)
// and every 16-bit divisor (Markstein's correction): the division's bits,
// from two fused operations instead of the divider. Taken in this order,
// the correction of a zero quotient is a zero of the same sign, as -0 / d
// gives -0.
struct scaling {
    bool divide;
    double divisor;
    double reciprocal;
};

scaling scaling_of(double divisor) { return {divisor == 0, divisor, divisor == 0 ? 0 : 1.0 / divisor}; }

// Counting reads 16-bit lanes: every lane for single values, the odd (Z)
// lanes for pairs.
__attribute__((target("avx2"))) std::size_t count_avx2(const decode_job& job, bool pairs) {
    const std::size_t bytes = static_cast<std::size_t>(job.count) * (pairs ? 4 : 2);
    const std::uint32_t lanes = pairs ? 0xCCCCCCCCu : 0xFFFFFFFFu;
    const __m256i zero = _mm256_setzero_si256();
    std::size_t nonzero_bytes = 0, i = 0;
    for (; i + 32 <= bytes; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(job.samples + i));
        const auto zeros = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(v, zero)));
        nonzero_bytes += static_cast<std::size_t>(__builtin_popcount(~zeros & lanes));
    }
    std::size_t n = nonzero_bytes / 2;
    for (; i < bytes; i += pairs ? 4 : 2) {
        const std::size_t at = pairs ? i + 2 : i;
        n += (job.samples[at] | job.samples[at + 1]) != 0;
    }
    return n;
}

// Four points per step. While at least four points are still to come, all
// four lanes are stored and the write position advances past the points
// that exist; near the end only the points that exist are stored.
__attribute__((target("avx2"))) inline void store_points_avx2(__m256d x, __m256d z, unsigned present,
                                                              vorex_point_t* out, std::size_t& at, std::size_t total) {
    const __m256d lo = _mm256_unpacklo_pd(x, z);  // points 0 and 2
    const __m256d hi = _mm256_unpackhi_pd(x, z);  // points 1 and 3
    double* d = reinterpret_cast<double*>(out);
    if (present == 0xF) {  // the common case: every point measured
        _mm256_storeu_pd(d + 2 * at, _mm256_permute2f128_pd(lo, hi, 0x20));
        _mm256_storeu_pd(d + 2 * at + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
        at += 4;
        return;
    }
    if (at + 4 <= total) {
        _mm_storeu_pd(d + 2 * at, _mm256_castpd256_pd128(lo));
        at += present & 1;
        _mm_storeu_pd(d + 2 * at, _mm256_castpd256_pd128(hi));
        at += (present >> 1) & 1;
        _mm_storeu_pd(d + 2 * at, _mm256_extractf128_pd(lo, 1));
        at += (present >> 2) & 1;
        _mm_storeu_pd(d + 2 * at, _mm256_extractf128_pd(hi, 1));
        at += (present >> 3) & 1;
        return;
    }
    alignas(32) double xs[4], zs[4];
    _mm256_store_pd(xs, x);
    _mm256_store_pd(zs, z);
    for (; present; present &= present - 1) {
        const int j = __builtin_ctz(present);
        out[at++] = {xs[j], zs[j]};
    }
}

__attribute__((target("avx2,fma"))) inline __m256d scale_avx2(__m256d product, const scaling& s) {
    const __m256d d = _mm256_set1_pd(s.divisor);
    if (s.divide) return _mm256_div_pd(product, d);
    const __m256d y = _mm256_set1_pd(s.reciprocal);
    const __m256d q = _mm256_mul_pd(product, y);
    return _mm256_fnmadd_pd(_mm256_fmsub_pd(q, d, product), y, q);
}

__attribute__((target("avx2,fma"))) void pairs_avx2(const decode_job& job, vorex_point_t* out) {
    const std::size_t total = count_avx2(job, true);
    const scaling s = scaling_of(job.divisor);
    const __m256d xs = _mm256_set1_pd(job.x_scale), zs = _mm256_set1_pd(job.z_scale);
    std::size_t at = 0;
    for (int i = 0; i < job.count && at < total; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(job.samples + 4 * i));
        const __m128i rx = _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
        const __m128i rz = _mm_srli_epi32(v, 16);
        const unsigned present =
            ~static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(rz, _mm_setzero_si128())))) & 0xF;
        if (!present) continue;
        const __m256d x = scale_avx2(_mm256_mul_pd(_mm256_cvtepi32_pd(rx), xs), s);
        const __m256d z = scale_avx2(_mm256_mul_pd(zs, _mm256_cvtepi32_pd(rz)), s);
        store_points_avx2(x, z, present, out, at, total);
    }
}

__attribute__((target("avx2,fma"))) void singles_avx2(const decode_job& job, vorex_point_t* out) {
    const std::size_t total = count_avx2(job, false);
    const scaling s = scaling_of(job.divisor);
    __m256d index = _mm256_set_pd(3, 2, 1, 0);
    const __m256d step = _mm256_set1_pd(4);
    std::size_t at = 0;
    for (int i = 0; i < job.count && at < total; i += 4, index = _mm256_add_pd(index, step)) {
        const __m128i v = _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(job.samples + 2 * i)));
        const unsigned present =
            ~static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, _mm_setzero_si128())))) & 0xF;
        if (!present) continue;
        store_points_avx2(index, scale_avx2(_mm256_cvtepi32_pd(v), s), present, out, at, total);
    }
}

// Eight points per step: the present lanes of the interleaved points are
// packed together and stored with a mask, so nothing is written past them.
__attribute__((target("avx512f,avx512vl"))) inline void store_points_avx512(__m512d x, __m512d z, unsigned present,
                                                                            vorex_point_t* out, std::size_t& at) {
    // Bit j of a point mask becomes bits 2j and 2j+1 of a lane mask.
    static constexpr std::uint8_t both_lanes[16] = {0x00, 0x03, 0x0C, 0x0F, 0x30, 0x33, 0x3C, 0x3F,
                                                    0xC0, 0xC3, 0xCC, 0xCF, 0xF0, 0xF3, 0xFC, 0xFF};
    const __m512i first = _mm512_set_epi64(11, 3, 10, 2, 9, 1, 8, 0);
    const __m512i second = _mm512_set_epi64(15, 7, 14, 6, 13, 5, 12, 4);
    double* d = reinterpret_cast<double*>(out);
    if (present == 0xFF) {  // the common case: every point measured
        _mm512_storeu_pd(d + 2 * at, _mm512_permutex2var_pd(x, first, z));
        _mm512_storeu_pd(d + 2 * at + 8, _mm512_permutex2var_pd(x, second, z));
        at += 8;
        return;
    }
    const __mmask8 lanes_lo = both_lanes[present & 0xF], lanes_hi = both_lanes[present >> 4];
    const __m512d lo = _mm512_maskz_compress_pd(lanes_lo, _mm512_permutex2var_pd(x, first, z));
    const __m512d hi = _mm512_maskz_compress_pd(lanes_hi, _mm512_permutex2var_pd(x, second, z));
    const int n_lo = __builtin_popcount(present & 0xF), n_hi = __builtin_popcount(present >> 4);
    _mm512_mask_storeu_pd(d + 2 * at, static_cast<__mmask8>((1u << (2 * n_lo)) - 1), lo);
    at += static_cast<std::size_t>(n_lo);
    _mm512_mask_storeu_pd(d + 2 * at, static_cast<__mmask8>((1u << (2 * n_hi)) - 1), hi);
    at += static_cast<std::size_t>(n_hi);
}

// The zero-masking form: GCC 12 warns of the plain one's undefined source.
__attribute__((target("avx512f,avx512vl"))) inline __m512d widen(__m256i v) {
    return _mm512_maskz_cvtepi32_pd(0xFF, v);
}

__attribute__((target("avx512f,avx512vl"))) inline __m512d scale_avx512(__m512d product, const scaling& s) {
    const __m512d d = _mm512_set1_pd(s.divisor);
    if (s.divide) return _mm512_div_pd(product, d);
    const __m512d y = _mm512_set1_pd(s.reciprocal);
    const __m512d q = _mm512_mul_pd(product, y);
    return _mm512_fnmadd_pd(_mm512_fmsub_pd(q, d, product), y, q);
}

__attribute__((target("avx512f,avx512vl"))) void pairs_avx512(const decode_job& job, vorex_point_t* out) {
    const scaling s = scaling_of(job.divisor);
    const __m512d xs = _mm512_set1_pd(job.x_scale), zs = _mm512_set1_pd(job.z_scale);
    std::size_t at = 0;
    for (int i = 0; i < job.count; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(job.samples + 4 * i));
        const __m256i rx = _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
        const __m256i rz = _mm256_srli_epi32(v, 16);
        const unsigned present = _mm256_test_epi32_mask(rz, rz);
        if (!present) continue;
        const __m512d x = scale_avx512(_mm512_mul_pd(widen(rx), xs), s);
        const __m512d z = scale_avx512(_mm512_mul_pd(zs, widen(rz)), s);
        store_points_avx512(x, z, present, out, at);
    }
}

__attribute__((target("avx512f,avx512vl"))) void singles_avx512(const decode_job& job, vorex_point_t* out) {
    const scaling s = scaling_of(job.divisor);
    __m512d index = _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0);
    const __m512d step = _mm512_set1_pd(8);
    std::size_t at = 0;
    for (int i = 0; i < job.count; i += 8, index = _mm512_add_pd(index, step)) {
        const __m256i v = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(job.samples + 2 * i)));
        const unsigned present = _mm256_test_epi32_mask(v, v);
        if (!present) continue;
        store_points_avx512(index, scale_avx512(widen(v), s), present, out, at);
    }
}

}  // namespace

bool decode_path_supported(decode_path path) {
    switch (path) {
    case decode_path::generic: return true;
    case decode_path::avx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case decode_path::avx512: return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    case decode_path::generic_fma: return __builtin_cpu_supports("fma");
    }
    return false;
}

std::size_t count_points(decode_path, const decode_job& job, bool pairs) { return count_avx2(job, pairs); }

void decode_pairs(decode_path path, const decode_job& job, vorex_point_t* out) {
    if (path == decode_path::avx512) return pairs_avx512(job, out);
    pairs_avx2(job, out);
}

void decode_single_values(decode_path path, const decode_job& job, vorex_point_t* out) {
    if (path == decode_path::avx512) return singles_avx512(job, out);
    singles_avx2(job, out);
}

#else

bool decode_path_supported(decode_path path) { return path == decode_path::generic; }
std::size_t count_points(decode_path, const decode_job&, bool) { return 0; }
void decode_pairs(decode_path, const decode_job&, vorex_point_t*) {}
void decode_single_values(decode_path, const decode_job&, vorex_point_t*) {}

#endif

decode_path best_decode_path() {
    static const decode_path best = [] {
        for (decode_path p : {decode_path::avx512, decode_path::avx2, decode_path::generic_fma})
            if (decode_path_supported(p)) return p;
        return decode_path::generic;
    }();
    return best;
}

}  // namespace vorex_data
