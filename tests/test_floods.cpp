// Waits under a flood: every loop that waits on the network ends after its
// documented number of receives, whatever keeps arriving. The flood is
// queued on the session's socket before the call, so the tests count
// receives exactly instead of timing anything.
#include "core/exchange.h"
#include "data/image_assembly.h"
#include "support/test_support.h"

namespace vorex_test {
namespace {

using vorex_wire::image_size;

class flood_test : public scripted_test {
protected:
    // What is still queued on the session's service socket, oldest first.
    std::vector<bytes> left_on_socket() {
        std::vector<bytes> out;
        bytes buffer(vorex_core::buffer_size);
        for (;;) {
            int n = vorex_net::receive(vorex_session_access::service_socket(*session), buffer.data(), buffer.size());
            if (n < 0) return out;
            out.emplace_back(buffer.begin(), buffer.begin() + n);
        }
    }

    void use_packet_size(std::int32_t size) {
        vorex_device_info_t info = session->info();
        info.image_packet_size = size;
        session = std::make_unique<vorex>(&info, 100);
        ASSERT_TRUE(session->connect());
    }
};

struct flood_case {
    int strays_short_of_bound;  // 1: the answer is the last receive allowed
    bool answered;
};

std::string flood_case_name(const ::testing::TestParamInfo<flood_case>& info) {
    return info.param.answered ? "answer_is_the_last_receive_allowed" : "answer_lies_past_the_bound";
}

class exchange_flood_test : public flood_test, public ::testing::WithParamInterface<flood_case> {};

TEST_P(exchange_flood_test, reboot_passes_over_strays_only_up_to_its_receive_bound) {
    const int bound = vorex_core::max_receives(2000);
    ASSERT_EQ(bound, 100);
    const bytes answer = header_bytes(0x14, serial, counter(), 0x50, 0x12, 0);
    for (int i = 0; i < bound - GetParam().strays_short_of_bound; ++i) push(bytes(20, 0xEE));
    push(answer);

    EXPECT_EQ(session->reboot(), GetParam().answered);
    const std::vector<bytes> left = left_on_socket();
    if (GetParam().answered) {
        EXPECT_TRUE(left.empty());
    } else {
        ASSERT_EQ(left.size(), 1u);  // the answer, never received
        EXPECT_EQ(left[0], answer);
    }
    EXPECT_EQ(wire(1).size(), 1u);  // nothing was ever missing: no resend
}

INSTANTIATE_TEST_SUITE_P(bound, exchange_flood_test, ::testing::Values(flood_case{1, true}, flood_case{0, false}),
                         flood_case_name);

// A 2-byte chunk datagram at `offset`, no acknowledgement asked.
bytes chunk(std::uint32_t offset) {
    bytes d = header_bytes(0x14, 0x0A0B0C0D, 1, 0x53, 0x10, 6);
    d.resize(20, 0x77);
    vorex_wire::store_u32_le(&d[14], offset);
    return d;
}

class image_flood_test : public flood_test, public ::testing::WithParamInterface<flood_case> {};

TEST_P(image_flood_test, image_takes_small_chunks_only_up_to_its_receive_bound) {
    use_packet_size(0);
    const std::size_t bound = vorex_data::max_image_receives(vorex_data::image_receive_size(0));
    ASSERT_EQ(bound, 144u);
    const bytes final_chunk = chunk(static_cast<std::uint32_t>(image_size - 2));
    for (std::size_t i = 0; i < bound - static_cast<std::size_t>(GetParam().strays_short_of_bound); ++i)
        push(chunk(0));
    push(final_chunk);

    std::vector<std::uint8_t> image(image_size, 0);
    EXPECT_EQ(session->get_image(image.data()), GetParam().answered);
    const std::vector<bytes> left = left_on_socket();
    const auto w = wire(GetParam().answered ? 2 : 1);
    if (GetParam().answered) {
        EXPECT_TRUE(left.empty());
        ASSERT_EQ(w.size(), 2u);  // the request and the final acknowledgement
        EXPECT_EQ(w[1], header_bytes(0x24, 0x0A0B0C0D, 1, 0x53, 0x10, 0));
    } else {
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(left[0], final_chunk);
        EXPECT_EQ(w.size(), 1u);  // no acknowledgement of an image never completed
    }
    EXPECT_EQ(image[0], 0x77);
}

INSTANTIATE_TEST_SUITE_P(bound, image_flood_test, ::testing::Values(flood_case{1, true}, flood_case{0, false}),
                         flood_case_name);

TEST_F(flood_test, null_image_buffer_is_refused_before_anything_is_sent) {
    const std::uint16_t before = counter();
    // A chunk waiting on the socket would be written through the pointer.
    push(chunk(0));
    EXPECT_FALSE(session->get_image(nullptr));
    EXPECT_EQ(counter(), before);
    EXPECT_EQ(left_on_socket().size(), 1u);  // nothing received either
    EXPECT_TRUE(wire().empty());
}

}  // namespace
}  // namespace vorex_test
