// Image reception against a scripted sensor: the request on the wire, the
// acknowledgements, where chunks land and when reception ends.
#include <algorithm>
#include <cstring>

#include "data/image_assembly.h"
#include "data_support.h"

namespace vorex_test {
namespace {

using vorex_wire::image_size;

constexpr std::uint8_t asks = 0x1C;      // ack_required set
constexpr std::uint8_t no_ask = 0x14;    // ack_required clear
constexpr std::uint8_t untouched = 0xA5;
constexpr std::size_t guard_size = 4096;

// A 20-byte answer asking for acknowledgement.
bytes answer(std::uint16_t counter = 500) {
    bytes d = header_bytes(asks, 0x0A0B0C0D, counter, 0x53, 0x10, 6);
    d.resize(20, 0);
    return d;
}

// The acknowledgement of datagram `d`.
bytes ack_of(const bytes& d) {
    bytes a(d.begin(), d.begin() + 14);
    vorex_wire::make_acknowledgement(a.data());
    return a;
}

// Reception ends at the first empty receive, so a scripted sensor whose
// thread a loaded machine holds up for one timeout would end it early: the
// image tests give the service socket a timeout no scheduling delay meets.
constexpr int image_test_timeout_ms = 500;

class image_test : public scripted_test {
protected:
    // The caller's buffer with a guard zone behind it that nothing may touch.
    image_test() : buffer(image_size + guard_size, untouched) { patient(*session); }

    // Replaces the session by one whose record carries `size`.
    void use_packet_size(std::int32_t size) {
        vorex_device_info_t info = session->info();
        info.image_packet_size = size;
        session = std::make_unique<vorex>(&info, 100);
        ASSERT_TRUE(session->connect());
        patient(*session);
    }

    static void patient(vorex& s) {
        vorex_net::set_receive_timeout(vorex_session_access::service_socket(s), image_test_timeout_ms);
    }

    // Round 0 goes out when the request arrives, round k on the k-th
    // datagram after it (the host's acknowledgements).
    void rounds(std::vector<std::vector<bytes>> r) {
        script([r](const bytes&, std::size_t i) { return i < r.size() ? r[i] : std::vector<bytes>{}; });
    }

    bool get() { return session->get_image(buffer.data()); }

    // Positions [from, to) hold the test pattern; the rest of the image and
    // the guard zone are untouched.
    void expect_image_holds(std::vector<std::pair<std::size_t, std::size_t>> spans) const {
        std::size_t wrong = 0, first_wrong = 0;
        for (std::size_t p = 0; p < buffer.size(); ++p) {
            const bool inside = std::any_of(spans.begin(), spans.end(), [p](auto s) { return p >= s.first && p < s.second; });
            const std::uint8_t want = inside ? image_byte(p) : untouched;
            if (buffer[p] != want && wrong++ == 0) first_wrong = p;
        }
        EXPECT_EQ(wrong, 0u) << "first wrong byte at " << first_wrong;
    }

    std::vector<std::uint8_t> buffer;
};

TEST_F(image_test, request_is_15_bytes_with_flags_0x18_and_silence_returns_false_after_one_timeout) {
    counter() = 0xFFFF;
    EXPECT_FALSE(get());  // no image at all
    EXPECT_STREQ(session->error_msg(), "No error");
    bytes request = header_bytes(0x18, serial, 0xFFFF, 0x53, 0x10, 1);
    request.push_back(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * test_timeout_ms));
    auto w = wire(1);
    ASSERT_EQ(w.size(), 1u);  // never resent
    EXPECT_EQ(w[0], request);
    EXPECT_EQ(counter(), 0);  // advanced once, wrapping
    expect_image_holds({});
}

TEST_F(image_test, request_that_cannot_be_sent_fails_without_counting) {
    vorex_device_info_t info = session->info();
    vorex idle(&info, 42);  // never connected: no service socket
    EXPECT_FALSE(idle.get_image(buffer.data()));
    EXPECT_EQ(vorex_session_access::counter(idle), 42);
    expect_image_holds({});
}

TEST_F(image_test, answer_then_1000_byte_chunks_assemble_the_whole_image) {
    // The answer asks; the chunks do not, but for every tenth, which asks
    // and holds the next ten back until it is acknowledged (so the burst
    // never overflows the socket). The final 224-byte chunk asks as well.
    std::vector<bytes> asking{answer()};
    std::vector<std::vector<bytes>> r{{answer()}, {}};
    std::uint16_t counter_value = 1;
    for (std::uint32_t offset = 0; offset < image_size; offset += 1000) {
        const std::size_t size = std::min<std::size_t>(1000, image_size - offset);
        const bool ask = (offset / 1000) % 10 == 9 || offset + size == image_size;
        r.back().push_back(image_datagram(ask ? asks : no_ask, counter_value++, offset, size));
        if (ask) {
            asking.push_back(r.back().back());
            r.emplace_back();
        }
    }
    rounds(r);
    const std::uint16_t before = counter();
    EXPECT_TRUE(get());
    expect_image_holds({{0, image_size}});
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(before + 1));

    auto w = wire(1 + asking.size());
    ASSERT_EQ(w.size(), 1 + asking.size());
    for (std::size_t k = 0; k < asking.size(); ++k) EXPECT_EQ(w[1 + k], ack_of(asking[k])) << k;
    EXPECT_EQ(w.back()[0], 0x24);
    EXPECT_EQ(vorex_wire::load_u16_le(&w.back()[12]), 0);
}

TEST_F(image_test, every_datagram_is_acknowledged_at_most_once_keeping_its_low_flag_bits) {
    const bytes answered = answer(77);
    const bytes silent_chunk = image_datagram(no_ask, 1, 0, 1000);
    const bytes asking_chunk = image_datagram(0x1B, 2, 1000, 1000);  // low bits 3
    const bytes final_chunk = image_datagram(0x1A, 3, image_size - 500, 500);
    rounds({{answered}, {silent_chunk, asking_chunk}, {final_chunk}});
    EXPECT_TRUE(get());
    auto w = wire(4);
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[1], ack_of(answered));
    EXPECT_EQ(w[2], ack_of(asking_chunk));
    EXPECT_EQ(w[2][0], 0x27);
    EXPECT_EQ(w[3], ack_of(final_chunk));
    EXPECT_EQ(w[3][0], 0x26);
    expect_image_holds({{0, 2000}, {image_size - 500, image_size}});
}

TEST_F(image_test, final_chunk_without_ask_is_still_acknowledged) {
    const bytes final_chunk = image_datagram(no_ask, 9, image_size - 10, 10);
    rounds({{answer()}, {final_chunk}});
    EXPECT_TRUE(get());
    auto w = wire(3);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[2], ack_of(final_chunk));
    EXPECT_EQ(w[2][0], 0x24);
}

TEST_F(image_test, chunks_out_of_order_land_at_their_offsets) {
    use_packet_size(0);
    // Chunks of 20000 bytes, sent as 1, 0, 3, 2, ..., 13, 12, 14, and the
    // final chunk 15 last.
    constexpr std::uint32_t last = image_size / 20000;
    std::vector<std::uint32_t> order;
    for (std::uint32_t k = 0; k + 1 < last; k += 2) order.insert(order.end(), {k + 1, k});
    if (last % 2 == 1) order.push_back(last - 1);
    order.push_back(last);
    std::vector<std::vector<bytes>> r{{answer()}};
    std::uint16_t c = 1;
    for (std::uint32_t k : order) {
        const std::uint32_t offset = k * 20000;
        r.push_back({image_datagram(asks, c++, offset, std::min<std::size_t>(20000, image_size - offset))});
    }
    ASSERT_EQ(order.size(), last + 1);
    // Until a chunk was placed, an asking datagram counts as the answer: the
    // first chunk goes without asking, together with the second.
    r[1][0][0] = no_ask;
    r[1].push_back(r[2][0]);
    r.erase(r.begin() + 2);
    rounds(r);
    EXPECT_TRUE(get());
    expect_image_holds({{0, image_size}});
    // The request, then one acknowledgement per asking datagram: the last of
    // every round, the final chunk included.
    EXPECT_EQ(wire(r.size() + 1).size(), r.size() + 1);
}

TEST_F(image_test, final_chunk_first_ends_reception_and_later_chunks_are_not_copied) {
    rounds({{answer()}, {image_datagram(no_ask, 1, image_size - 224, 224), image_datagram(no_ask, 2, 0, 1000)}});
    EXPECT_TRUE(get());
    expect_image_holds({{image_size - 224, image_size}});
    EXPECT_EQ(wire(3).size(), 3u);
}

TEST_F(image_test, ack_asking_chunk_at_offset_0_before_any_chunk_is_taken_as_the_answer) {
    const bytes first = image_datagram(asks, 1, 0, 1000);
    rounds({{first}, {image_datagram(no_ask, 2, 1000, 1000)}});
    EXPECT_FALSE(get());  // the image stopped short
    expect_image_holds({{1000, 2000}});
    auto w = wire(2);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[1], ack_of(first));
}

TEST_F(image_test, datagrams_of_14_to_17_bytes_are_passed_over_without_ending_reception) {
    bytes fourteen = header_bytes(asks, 1, 1, 0x53, 0x10, 0);
    std::vector<bytes> short_ones{fourteen};
    for (std::size_t n : {15, 16, 17}) {
        bytes d = header_bytes(asks, 1, static_cast<std::uint16_t>(n), 0x53, 0x10, static_cast<std::uint16_t>(n - 14));
        d.resize(n, 0);  // an offset of 0 as far as it goes
        short_ones.push_back(d);
    }
    std::vector<bytes> after_first_chunk{image_datagram(no_ask, 5, 0, 1000)};
    after_first_chunk.insert(after_first_chunk.end(), short_ones.begin(), short_ones.end());
    after_first_chunk.push_back(image_datagram(no_ask, 6, 1000, 1000));
    rounds({{fourteen, answer()}, after_first_chunk});
    EXPECT_FALSE(get());  // the image stopped short
    expect_image_holds({{0, 2000}});
    auto w = wire(2);
    EXPECT_EQ(w.size(), 2u);  // only the answer was acknowledged
}

TEST_F(image_test, datagram_shorter_than_14_bytes_ends_reception) {
    rounds({{answer()}, {image_datagram(no_ask, 1, 0, 1000), bytes(13, 0), image_datagram(no_ask, 2, 1000, 1000)}});
    EXPECT_FALSE(get());  // the image stopped short
    expect_image_holds({{0, 1000}});
}

TEST_F(image_test, receive_size_follows_image_packet_size_within_the_32_kib_buffer) {
    struct {
        std::int32_t packet_size;
        std::size_t largest;  // whole datagram
    } cases[] = {{1400, 1414}, {0, 32768}, {100, 114}, {32754, 32768}, {32755, 32768}, {40000, 32768}, {-1, 32768}};
    for (auto c : cases) {
        SCOPED_TRACE(c.packet_size);
        use_packet_size(c.packet_size);
        std::fill(buffer.begin(), buffer.end(), untouched);
        // The largest datagram fits; one byte more fails the receive, which
        // ends reception, so the chunk behind it is never taken. One large
        // datagram at a time, so none is lost to a full socket buffer.
        const std::size_t chunk = c.largest - 18;
        rounds({{answer()},
                {image_datagram(no_ask, 1, 0, 10), image_datagram(asks, 1, 1000, chunk)},
                {image_datagram(no_ask, 2, 100000, chunk + 1), image_datagram(no_ask, 3, 200000, 10)}});
        EXPECT_FALSE(get());  // the image stopped short
        expect_image_holds({{0, 10}, {1000, 1000 + chunk}});
        EXPECT_EQ(vorex_data::image_receive_size(c.packet_size), c.largest);
        sensor->clear_wire();
    }
}

TEST_F(image_test, chunks_reaching_past_the_image_are_clipped_to_the_buffer) {
    struct {
        std::uint32_t offset;
        std::size_t size;
        std::size_t written_from;  // the image bytes it may write: [written_from, image_size)
    } cases[] = {
        {image_size - 100, 1000, image_size - 100},  // straddles the end
        {image_size, 10, image_size},                // starts at the end
        {image_size + 5000, 30000, image_size},      // wholly beyond
        {0xFFFFFF00u, 20000, image_size},            // offset + size wraps 32 bits
        {0xFFFFFFFFu, 1, image_size},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.offset);
        use_packet_size(0);  // a fresh socket: nothing left from the case before
        std::fill(buffer.begin(), buffer.end(), untouched);
        const bytes chunk = image_datagram(no_ask, 1, c.offset, c.size);
        rounds({{answer(), chunk, image_datagram(no_ask, 2, 0, 10)}});
        EXPECT_TRUE(get());
        // It completes the image, is acknowledged, and the chunk behind it
        // is never taken.
        expect_image_holds({{c.written_from, image_size}});
        auto w = wire(3);
        ASSERT_EQ(w.size(), 3u);
        EXPECT_EQ(w[2], ack_of(chunk));
        sensor->clear_wire();
    }
}

// The assembly on its own, without sockets: the step each datagram gives.
TEST(image_assembly, steps_follow_length_ack_and_progress) {
    std::vector<std::uint8_t> image(image_size, 0);
    vorex_data::image_assembly a(image.data());
    auto step = [&](const bytes& d) { return a.take(d.data(), static_cast<int>(d.size())); };
    using vorex_data::image_step;
    EXPECT_EQ(a.take(nullptr, -1), image_step::stop);
    EXPECT_EQ(step(bytes(13, 0)), image_step::stop);
    EXPECT_EQ(step(header_bytes(asks, 0, 0, 0x53, 0x10, 0)), image_step::pass_over);
    EXPECT_EQ(step(answer()), image_step::answer);
    EXPECT_EQ(step(answer()), image_step::answer);  // still no chunk: asks again
    EXPECT_EQ(step(image_datagram(no_ask, 0, 0, 0)), image_step::chunk);  // empty chunk at 0 keeps end at 0
    EXPECT_EQ(a.end(), 0u);
    EXPECT_EQ(step(image_datagram(no_ask, 0, 10, 5)), image_step::chunk);
    EXPECT_EQ(a.end(), 15u);
    EXPECT_EQ(step(answer()), image_step::chunk_acked);  // once a chunk came, 20 bytes are a 2-byte chunk at 0
    EXPECT_EQ(a.end(), 2u);
    const std::vector<std::uint8_t> before = image;
    EXPECT_EQ(step(bytes{asks, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9}), image_step::pass_over);  // no whole offset
    EXPECT_EQ(a.end(), 2u);
    EXPECT_TRUE(image == before);
    EXPECT_EQ(step(image_datagram(asks, 0, 100, 5)), image_step::chunk_acked);
    EXPECT_EQ(step(image_datagram(asks, 0, 0, 3)), image_step::chunk_acked);
    EXPECT_EQ(a.end(), 3u);  // the end of the latest chunk, not the furthest
    EXPECT_FALSE(a.complete());
    EXPECT_EQ(step(image_datagram(no_ask, 0, image_size - 1, 1)), image_step::complete);
    EXPECT_TRUE(a.complete());
    EXPECT_EQ(image[image_size - 1], image_byte(image_size - 1));
}

TEST(image_assembly, short_datagram_asking_before_any_chunk_is_the_answer) {
    // The answer needs no offset, so 15 to 17 bytes serve as one.
    for (std::size_t n : {15, 16, 17}) {
        std::vector<std::uint8_t> image(image_size, 0);
        vorex_data::image_assembly a(image.data());
        bytes d = header_bytes(asks, 0, 0, 0x53, 0x10, 0);
        d.resize(n, 0xEE);
        EXPECT_EQ(a.take(d.data(), static_cast<int>(n)), vorex_data::image_step::answer) << n;
    }
}

}  // namespace
}  // namespace vorex_test
