// Fuzz target: get_result on a session's data socket, one call per
// datagram: exactly one receive each, a profile only from a datagram of a
// known type and its full size, and the error text as the rules give.
//
// Input: the first three bytes are unused options (fuzz_session.h); the
// rest is the network (fake_socket.h).
#include "data/profile_decode.h"
#include "fuzz_session.h"

namespace {

using namespace vorex_fuzz;

constexpr int calls = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const options o = options_of(data, size);
    session_fixture f(o.network, o.size, -1);
    vorex_profile profile;
    for (int i = 0; i < calls; ++i) {
        const bool ok = f.session->get_result(profile);
        VOREX_FUZZ_REQUIRE(receives().size() == static_cast<std::size_t>(i + 1));
        const received& r = receives().back();
        const auto n = static_cast<std::size_t>(r.result < 0 ? 0 : r.result);
        const bool profile_sized = r.result >= static_cast<int>(vorex_data::profile_header_size);
        const vorex_data::profile_layout* layout = profile_sized ? vorex_data::layout_of(r.data[0]) : nullptr;
        const bool whole = layout && n >= layout->size;
        VOREX_FUZZ_REQUIRE(ok == whole);
        VOREX_FUZZ_REQUIRE(std::strcmp(f.session->error_msg(), profile_sized && !whole ? "Malformed packet" : "No error") == 0);
        if (!ok) continue;
        VOREX_FUZZ_REQUIRE(std::memcmp(&profile.header, r.data.data(), sizeof profile.header) == 0);
        VOREX_FUZZ_REQUIRE(profile.points.size() <= static_cast<std::size_t>(layout->points));
    }
    VOREX_FUZZ_REQUIRE(sends().empty());
    return 0;
}
