// Fuzz target: one profile datagram through the decoder.
#include <cstring>

#include "core/wire.h"
#include "data/profile_decode.h"
#include "fuzz_check.h"

namespace {

constexpr std::size_t earlier_raw_count = 700;  // between the two point counts
constexpr std::uint16_t earlier_raw_value = 0x1234;

// A record that already holds something, so a refused datagram that
// touched it would show.
vorex_profile filled_record() {
    vorex_profile p;
    std::memset(&p.header, 0x5A, sizeof p.header);
    p.points = {{1.0, 2.0}, {3.0, 4.0}};
    p.raw_values.assign(earlier_raw_count, earlier_raw_value);
    return p;
}

bool same(const vorex_profile& a, const vorex_profile& b) {
    if (std::memcmp(&a.header, &b.header, sizeof a.header) != 0) return false;
    if (a.points.size() != b.points.size() || a.raw_values != b.raw_values) return false;
    for (std::size_t i = 0; i < a.points.size(); ++i)
        if (std::memcmp(&a.points[i], &b.points[i], sizeof a.points[i]) != 0) return false;
    return true;
}

void check_accepted(const std::uint8_t* data, const vorex_profile& p, const vorex_data::profile_layout& layout) {
    VOREX_FUZZ_REQUIRE(std::memcmp(&p.header, data, vorex_data::profile_header_size) == 0);
    VOREX_FUZZ_REQUIRE(p.raw_values.size() == static_cast<std::size_t>(layout.points));
    const std::uint8_t* samples = data + vorex_data::profile_header_size;
    std::size_t non_zero = 0;
    for (int i = 0; i < layout.points; ++i) {
        const std::uint16_t v = vorex_wire::load_u16_le(samples + (layout.pairs ? 4 * i + 2 : 2 * i));
        if (v != 0) ++non_zero;
        if (!layout.pairs) {
            VOREX_FUZZ_REQUIRE(p.raw_values[static_cast<std::size_t>(i)] == v);
        } else {
            // Never written: what was there, or the zeros of a resize.
            const std::uint16_t kept = static_cast<std::size_t>(i) < earlier_raw_count ? earlier_raw_value : 0;
            VOREX_FUZZ_REQUIRE(p.raw_values[static_cast<std::size_t>(i)] == kept);
        }
    }
    VOREX_FUZZ_REQUIRE(p.points.size() == non_zero);
    if (!layout.pairs)
        for (std::size_t k = 1; k < p.points.size(); ++k) VOREX_FUZZ_REQUIRE(p.points[k - 1].x < p.points[k].x);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The receive never hands over more than the largest profile.
    if (size > vorex_data::max_profile_datagram) size = vorex_data::max_profile_datagram;
    vorex_profile profile = filled_record();
    const vorex_profile before = profile;
    const auto outcome = vorex_data::decode_profile(data, size, profile);
    const vorex_data::profile_layout* layout = size > 0 ? vorex_data::layout_of(data[0]) : nullptr;

    if (size < vorex_data::profile_header_size) {
        VOREX_FUZZ_REQUIRE(outcome == vorex_data::decode_outcome::too_short);
    } else if (!layout || size < layout->size) {
        VOREX_FUZZ_REQUIRE(outcome == vorex_data::decode_outcome::malformed);
    } else {
        VOREX_FUZZ_REQUIRE(outcome == vorex_data::decode_outcome::accepted);
        check_accepted(data, profile, *layout);
        return 0;
    }
    VOREX_FUZZ_REQUIRE(same(profile, before));
    return 0;
}
