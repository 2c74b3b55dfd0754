// Waits under a flood. Datagrams of the wrong length never cost a reply that
// arrives within the wait's limit, however many stand queued before it;
// only a flood that outlasts the wait's bound on time ends it. The flood is
// queued on the session's socket before the call and the time is a clock
// the test drives, one step per reading, so nothing here depends on the
// machine's speed.
#include <atomic>

#include "core/exchange.h"
#include "data/image_assembly.h"
#include "support/test_support.h"

namespace vorex_test {
namespace {

using vorex_wire::image_size;

std::atomic<std::int64_t> fake_now{0};
std::atomic<int> fake_step{0};
std::int64_t fake_clock() { return fake_now.fetch_add(fake_step); }

// More strays than a default receive buffer holds.
constexpr int backlog = 3000;

class flood_test : public scripted_test {
protected:
    flood_test() {
        fake_now = 0;
        vorex_test_seam::set_clock(&fake_clock);
        // Room for the backlog and the answer behind it: nothing may be
        // dropped on the way in.
        vorex_net::set_receive_buffer(vorex_session_access::service_socket(*session), 64 << 20);
    }
    ~flood_test() override { vorex_test_seam::set_clock(nullptr); }

    bool room_for_backlog() {
        return vorex_net::receive_buffer_size(vorex_session_access::service_socket(*session)) >= 16 << 20;
    }

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
        vorex_net::set_receive_buffer(vorex_session_access::service_socket(*session), 64 << 20);
    }
};

struct flood_case {
    const char* name;
    int step_ms;  // how far each reading moves the clock
    int strays;
    bool answered;
};

std::string flood_case_name(const ::testing::TestParamInfo<flood_case>& info) { return info.param.name; }

// The reboot waits 2000 ms: its bound is 4000 ms.
const flood_case reboot_cases[] = {
    {"backlog_before_a_prompt_answer", 0, backlog, true},
    {"answer_behind_a_burst_shorter_than_the_bound", 1, 3 * vorex_core::flood_bound_ms(2000) / 4, true},
    {"flood_that_outlasts_the_bound", 1, 5 * vorex_core::flood_bound_ms(2000) / 4, false},
};

class exchange_flood_test : public flood_test, public ::testing::WithParamInterface<flood_case> {};

TEST_P(exchange_flood_test, reboot_takes_its_answer_behind_any_strays_until_its_bound_on_time) {
    ASSERT_EQ(vorex_core::flood_bound_ms(2000), 4000);
    if (!room_for_backlog()) GTEST_SKIP() << "needs CAP_NET_ADMIN for a receive buffer that holds the backlog";
    const flood_case c = GetParam();
    fake_step = c.step_ms;
    const bytes answer = header_bytes(0x14, serial, counter(), 0x50, 0x12, 0);
    for (int i = 0; i < c.strays; ++i) push(bytes(20, 0xEE));
    push(answer);

    EXPECT_EQ(session->reboot(), c.answered);
    EXPECT_STREQ(session->error_msg(), "No error");
    const std::vector<bytes> left = left_on_socket();
    if (c.answered) {
        EXPECT_TRUE(left.empty());
    } else {
        // Cut off by the clock: one reading a receive, the bound's worth.
        const std::size_t taken = static_cast<std::size_t>(c.strays) + 1 - left.size();
        EXPECT_GE(taken + 2, static_cast<std::size_t>(vorex_core::flood_bound_ms(2000) / c.step_ms));
        EXPECT_LE(taken, static_cast<std::size_t>(vorex_core::flood_bound_ms(2000) / c.step_ms));
        EXPECT_EQ(left.back(), answer);  // never received
    }
    EXPECT_EQ(wire(1).size(), 1u);  // nothing was ever missing: no resend
}

INSTANTIATE_TEST_SUITE_P(bound, exchange_flood_test, ::testing::ValuesIn(reboot_cases), flood_case_name);

// A 2-byte chunk datagram at `offset`, no acknowledgement asked.
bytes chunk(std::uint32_t offset) {
    bytes d = header_bytes(0x14, 0x0A0B0C0D, 1, 0x53, 0x10, 6);
    d.resize(20, 0x77);
    vorex_wire::store_u32_le(&d[14], offset);
    return d;
}

// Ten milliseconds a reading: the 30 s bound is 3000 receives.
const flood_case image_cases[] = {
    {"chunks_before_the_final_one_within_the_bound", 10, 3 * vorex_data::image_bound_ms / 40, true},
    {"chunks_that_outlast_the_bound", 10, 5 * vorex_data::image_bound_ms / 40, false},
};

class image_flood_test : public flood_test, public ::testing::WithParamInterface<flood_case> {};

TEST_P(image_flood_test, image_takes_chunks_until_its_bound_on_time) {
    if (!room_for_backlog()) GTEST_SKIP() << "needs CAP_NET_ADMIN for a receive buffer that holds the backlog";
    use_packet_size(0);
    const flood_case c = GetParam();
    fake_step = c.step_ms;
    const bytes final_chunk = chunk(static_cast<std::uint32_t>(image_size - 2));
    for (int i = 0; i < c.strays; ++i) push(chunk(0));
    push(final_chunk);

    std::vector<std::uint8_t> image(image_size, 0);
    EXPECT_EQ(session->get_image(image.data()), c.answered);
    const std::vector<bytes> left = left_on_socket();
    const auto w = wire(c.answered ? 2 : 1);
    if (c.answered) {
        EXPECT_TRUE(left.empty());
        ASSERT_EQ(w.size(), 2u);  // the request and the final acknowledgement
        EXPECT_EQ(w[1], header_bytes(0x24, 0x0A0B0C0D, 1, 0x53, 0x10, 0));
    } else {
        ASSERT_FALSE(left.empty());
        EXPECT_EQ(left.back(), final_chunk);
        EXPECT_EQ(w.size(), 1u);  // no acknowledgement of an image never completed
    }
    EXPECT_EQ(image[0], 0x77);
}

INSTANTIATE_TEST_SUITE_P(bound, image_flood_test, ::testing::ValuesIn(image_cases), flood_case_name);

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
