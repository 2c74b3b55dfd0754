// Every decode path this processor runs gives, bit for bit, what the
// generic loop gives: on random datagrams of each type with zero samples
// mixed in (scattered and in runs), under every class of divisor.
#include <cstring>
#include <random>

#include "data/profile_decode.h"
#include "data_support.h"

namespace vorex_test {
namespace {

using vorex_data::decode_path;

// 0 gives infinities and NaN; powers of two and the rest take the vector
// paths' corrected reciprocal.
constexpr std::uint16_t divisors[] = {0, 1, 2, 64, 1024, 16384, 32768, 3, 7, 100, 1000, 12345, 65535};

bytes random_datagram(std::mt19937& rng, int type, std::uint16_t divisor) {
    std::uniform_int_distribution<int> word(0, 0xFFFF), percent(0, 99);
    bytes d = profile_datagram(type, static_cast<std::uint16_t>(word(rng)), static_cast<std::uint16_t>(word(rng)),
                               divisor);
    const std::size_t words = (d.size() - 64) / 2;
    const bool pairs = type == 17 || type == 19;
    const int zero_share = percent(rng);  // from none to nearly all
    for (std::size_t i = 0; i < words; ++i) {
        const bool zero = percent(rng) < zero_share || (i / 64) % 5 == 1;  // and runs of zeros
        std::uint16_t v = static_cast<std::uint16_t>(word(rng));
        // For pairs only Z (the second word) decides; X may be zero or not.
        if (zero && (!pairs || i % 2 == 1)) v = 0;
        vorex_wire::store_u16_le(&d[64 + 2 * i], v);
    }
    return d;
}

// A record with stale content, as a caller that reuses it passes: fewer
// points than the datagram yields, or more than any can.
vorex_profile stale_record(int round) {
    vorex_profile p;
    p.points.assign(round % 2 ? 2000 : 3, vorex_point_t{-1.5, 2.5});
    p.raw_values.assign(1500, 0xBEEF);
    return p;
}

void expect_same_bits(const vorex_profile& want, const vorex_profile& got) {
    ASSERT_EQ(std::memcmp(&want.header, &got.header, sizeof want.header), 0);
    ASSERT_EQ(want.points.size(), got.points.size());
    ASSERT_EQ(std::memcmp(want.points.data(), got.points.data(), want.points.size() * sizeof(vorex_point_t)), 0);
    ASSERT_EQ(want.raw_values, got.raw_values);
}

class decode_paths : public ::testing::TestWithParam<decode_path> {};

TEST_P(decode_paths, give_the_generic_bits) {
    if (!vorex_data::decode_path_supported(GetParam())) GTEST_SKIP() << "not supported by this processor or build";
    std::mt19937 rng(20261209);
    for (int type = 16; type <= 19; ++type)
        for (std::uint16_t divisor : divisors)
            for (int round = 0; round < 20; ++round) {
                SCOPED_TRACE(::testing::Message() << "type " << type << " divisor " << divisor << " round " << round);
                const bytes d = random_datagram(rng, type, divisor);
                vorex_profile want = stale_record(round), got = stale_record(round);
                ASSERT_EQ(vorex_data::decode_profile(d.data(), d.size(), want, decode_path::generic),
                          vorex_data::decode_outcome::accepted);
                ASSERT_EQ(vorex_data::decode_profile(d.data(), d.size(), got, GetParam()),
                          vorex_data::decode_outcome::accepted);
                expect_same_bits(want, got);
            }
}

// Every divisor the header can carry, on one body of samples under random
// scales and under scales that put the numerators on and beside multiples
// of the divisor, where a quotient that is not correctly rounded shows.
TEST_P(decode_paths, every_divisor_gives_the_bits_of_the_division) {
    if (!vorex_data::decode_path_supported(GetParam())) GTEST_SKIP() << "not supported by this processor or build";
    std::mt19937 rng(65535);
    bytes d = random_datagram(rng, 17, 1);
    vorex_profile want, got;
    for (std::uint32_t divisor = 1; divisor <= 0xFFFF; ++divisor) {
        const auto near = static_cast<std::uint16_t>(divisor + divisor % 5 - 2);
        const bool beside = divisor % 2 == 0;
        vorex_wire::store_u16_le(&d[28], beside ? static_cast<std::uint16_t>(divisor) : static_cast<std::uint16_t>(rng()));
        vorex_wire::store_u16_le(&d[30], beside ? near : static_cast<std::uint16_t>(rng()));
        vorex_wire::store_u16_le(&d[32], static_cast<std::uint16_t>(divisor));
        vorex_data::decode_profile(d.data(), d.size(), want, decode_path::generic);
        vorex_data::decode_profile(d.data(), d.size(), got, GetParam());
        ASSERT_EQ(want.points.size(), got.points.size());
        ASSERT_EQ(std::memcmp(want.points.data(), got.points.data(), want.points.size() * sizeof(vorex_point_t)), 0)
            << "divisor " << divisor;
    }
}

// The datagrams of the build comparison: drawn from the generator's raw
// words, which every platform's library gives alike (its distributions
// need not).
bytes portable_datagram(std::mt19937& rng, int type, std::uint16_t divisor) {
    bytes d = profile_datagram(type, static_cast<std::uint16_t>(rng()), static_cast<std::uint16_t>(rng()), divisor);
    const bool pairs = type == 17 || type == 19;
    const auto zero_share = static_cast<std::uint32_t>(rng() % 100);
    for (std::size_t i = 0; i < (d.size() - 64) / 2; ++i) {
        const auto word = static_cast<std::uint32_t>(rng());
        const bool zero = (word >> 16) % 100 < zero_share;
        if (zero && (!pairs || i % 2 == 1)) continue;
        vorex_wire::store_u16_le(&d[64 + 2 * i], static_cast<std::uint16_t>(word));
    }
    return d;
}

// FNV-1a over bytes, carried from call to call.
void digest(std::uint64_t& h, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 0x100000001B3u;
}

// What the 64-bit build decodes from these datagrams, on whichever path the
// processor takes. Every build, 32-bit and Windows ones included, must give
// the same bits: a 32-bit build computing in x87 differs in about one
// coordinate in 12,000, which this many coordinates do not miss.
constexpr std::uint64_t decoded_by_the_64_bit_build = 0x68DD23D41FDF7393;

TEST(decode_builds, every_build_decodes_the_same_bits) {
    std::mt19937 rng(4711);
    std::uint64_t h = 0xCBF29CE484222325u;
    std::size_t coordinates = 0;
    for (int type = 16; type <= 19; ++type)
        for (std::uint16_t divisor : divisors)
            for (int round = 0; round < 20; ++round) {
                const bytes d = portable_datagram(rng, type, divisor);
                vorex_profile p;
                ASSERT_EQ(vorex_data::decode_profile(d.data(), d.size(), p), vorex_data::decode_outcome::accepted);
                digest(h, p.points.data(), p.points.size() * sizeof(vorex_point_t));
                digest(h, p.raw_values.data(), p.raw_values.size() * sizeof(std::uint16_t));
                coordinates += 2 * p.points.size();
            }
    EXPECT_GT(coordinates, 500000u);
    EXPECT_EQ(h, decoded_by_the_64_bit_build) << std::hex << "0x" << h;
}

INSTANTIATE_TEST_SUITE_P(all, decode_paths,
                         ::testing::Values(decode_path::avx2, decode_path::avx512, decode_path::generic_fma),
                         [](const auto& p) {
                             switch (p.param) {
                             case decode_path::avx2: return "avx2";
                             case decode_path::avx512: return "avx512";
                             default: return "generic_fma";
                             }
                         });

}  // namespace
}  // namespace vorex_test
