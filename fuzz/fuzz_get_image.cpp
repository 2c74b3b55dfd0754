// Fuzz target: get_image on a session, through the real receive loop, over
// arbitrary datagrams at every receive size: the buffer is exactly one
// image (the sanitizers catch any write past it), the bytes match a plain
// model of the transfer, every acknowledgement is one, and the loop ends
// within its bound under a flood.
//
// Input: byte 0 picks image_packet_size, byte 1 the first send that fails
// (fuzz_session.h); the rest is the network (fake_socket.h).
#include "data/image_assembly.h"
#include "fuzz_session.h"
#include "image_model.h"

namespace {

using namespace vorex_fuzz;
using vorex_wire::header_size;

constexpr std::int32_t packet_sizes[] = {0, 1400, 1000, 1, 3, 4, 5, 60, 32754, 32755, 100000, -5};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const options o = options_of(data, size);
    const std::int32_t packet_size = packet_sizes[o.select % (sizeof packet_sizes / sizeof packet_sizes[0])];
    session_fixture f(o.network, o.size, o.failing_send, packet_size);
    auto image = std::make_unique<std::uint8_t[]>(image_size);
    std::memset(image.get(), 0xA5, image_size);

    const std::uint16_t before = f.counter();
    const bool ok = f.session->get_image(image.get());
    const bool request_sent = o.failing_send != 0;
    VOREX_FUZZ_REQUIRE(f.counter() == static_cast<std::uint16_t>(before + (request_sent ? 1 : 0)));
    if (!request_sent) {
        VOREX_FUZZ_REQUIRE(!ok && receives().empty() && sends().size() == 1);
        return 0;
    }

    const std::size_t receive_size = vorex_data::image_receive_size(packet_size);
    const std::size_t bound = receives_within(vorex_data::image_bound_ms);
    VOREX_FUZZ_REQUIRE(receives().size() <= bound);

    // Replay what was received through the model; every datagram the model
    // acknowledges is acknowledged once, in order, by the next send.
    image_model model;
    std::size_t next_send = 1;
    image_step last = image_step::stop;
    for (const received& r : receives()) {
        VOREX_FUZZ_REQUIRE(r.result <= static_cast<int>(receive_size));
        last = model.take(r.data.data(), r.result < 0 ? 0 : static_cast<std::size_t>(r.result));
        if (last == image_step::answer || last == image_step::chunk_acked || last == image_step::complete) {
            VOREX_FUZZ_REQUIRE(next_send < sends().size());
            bytes ack(r.data.begin(), r.data.begin() + header_size);
            vorex_wire::make_acknowledgement(ack.data());
            VOREX_FUZZ_REQUIRE(sends()[next_send].data == ack);
            ++next_send;
        }
    }
    VOREX_FUZZ_REQUIRE(next_send == sends().size());
    VOREX_FUZZ_REQUIRE(std::memcmp(image.get(), model.image.data(), image_size) == 0);

    // The result: true only when the image completed and its
    // acknowledgement went out whole; a transfer that stopped short, or
    // that the flood bound ended, is false.
    if (last == image_step::stop) {
        VOREX_FUZZ_REQUIRE(!ok);
    } else if (last == image_step::complete) {
        const bool ack_whole = o.failing_send < 0 || static_cast<std::size_t>(o.failing_send) >= sends().size();
        VOREX_FUZZ_REQUIRE(ok == ack_whole);
    } else {
        // Only datagrams came, each a step of the fake clock, until the bound.
        VOREX_FUZZ_REQUIRE(!ok && receives().size() * datagram_ms >= static_cast<std::size_t>(vorex_data::image_bound_ms));
    }
    VOREX_FUZZ_REQUIRE(std::strcmp(f.session->error_msg(), "No error") == 0);
    return 0;
}
