// The request exchange: resend cadence, reply recognition by length,
// acknowledgements and the message counter, observed on the wire.
#include "support/test_support.h"

namespace vorex_test {
namespace {

using exchange_test = scripted_test;

std::uint16_t counter_of(const bytes& datagram) { return vorex_wire::load_u16_le(&datagram[8]); }

// Every datagram on the wire equals the first one: the same request resent.
void expect_all_identical(const std::vector<bytes>& w) {
    for (const bytes& b : w) EXPECT_EQ(b, w.front());
}

TEST_F(exchange_test, silent_sensor_gets_request_and_six_resends_within_limit_3000) {
    std::uint16_t before = counter();
    EXPECT_FALSE(session->read_general_params(nullptr));
    auto w = wire(7);
    ASSERT_EQ(w.size(), 7u);  // first send + resends after empty receives 5, 10, ..., 30
    expect_all_identical(w);
    EXPECT_EQ(w[0], header_bytes(0x1C, serial, before, 0x5E, 0x01, 0));
    EXPECT_EQ(counter(), before);  // counted on reply only
    EXPECT_STREQ(session->error_msg(), "No error");
}

TEST_F(exchange_test, silent_sensor_gets_request_and_four_resends_within_limit_2000) {
    std::uint16_t before = counter();
    EXPECT_FALSE(session->reboot());
    auto w = wire(5);
    ASSERT_EQ(w.size(), 5u);
    expect_all_identical(w);
    EXPECT_EQ(w[0], header_bytes(0x1C, serial, before, 0x50, 0x12, 0));
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(before + 1));  // counted on send
}

TEST_F(exchange_test, resend_is_answered_after_five_empty_receives) {
    // Stay silent to the first request; answer its first resend.
    script([](const bytes& req, std::size_t i) -> std::vector<bytes> {
        if (i == 0) return {};
        return {reply_for(req, 0x14, bytes(192, 0xAB))};
    });
    vorex_general_params_t g;
    ASSERT_TRUE(session->read_general_params(&g));
    EXPECT_EQ(g.bytes[0], 0xAB);
    EXPECT_EQ(wire().size(), 2u);
}

TEST_F(exchange_test, wrong_length_and_stray_datagrams_are_passed_over_without_shortening_the_wait) {
    // A stream of wrong lengths arrives instead of the reply: 205, 207, 20,
    // then 14 bytes for a 206-byte read. The wait must still take its full
    // 30 empty receives (7 requests on the wire).
    script([](const bytes& req, std::size_t i) -> std::vector<bytes> {
        if (i > 0) return {};
        return {reply_for(req, 0x14, bytes(191)), reply_for(req, 0x14, bytes(193)), bytes(20, 1), bytes(14, 2)};
    });
    EXPECT_FALSE(session->read_general_params(nullptr));
    EXPECT_EQ(wire(7).size(), 7u);
}

TEST_F(exchange_test, stray_datagram_before_reply_is_skipped_and_reply_accepted) {
    script([](const bytes& req, std::size_t) -> std::vector<bytes> {
        return {bytes(20, 9), reply_for(req, 0x14, bytes(192, 0x5A))};
    });
    vorex_general_params_t g{};
    ASSERT_TRUE(session->read_general_params(&g));
    EXPECT_EQ(g.bytes[191], 0x5A);
}

TEST_F(exchange_test, reply_is_recognised_by_length_alone) {
    script([](const bytes&, std::size_t) -> std::vector<bytes> {
        return {header_bytes(0x14, 0xDEADBEEF, 4242, 0x11, 0x22, 0)};  // another serial, counter, command
    });
    EXPECT_TRUE(session->flush_params());
}

TEST_F(exchange_test, acknowledgement_follows_only_when_reply_asks) {
    struct {
        std::uint8_t reply_flags;
        bool acked;
        std::uint8_t ack_flags;
    } cases[] = {{0x1C, true, 0x24}, {0x1B, true, 0x27}, {0x14, false, 0}};
    for (auto c : cases) {
        sensor->clear_wire();
        std::uint8_t flags = c.reply_flags;
        script([flags](const bytes& req, std::size_t i) -> std::vector<bytes> {
            if (i > 0) return {};
            bytes r = reply_for(req, flags, bytes(82, 3));
            vorex_wire::store_u16_le(&r[8], 0x7777);  // the sensor's own counter
            return {r};
        });
        std::uint16_t before = counter();
        ASSERT_TRUE(session->read_sysmon_params(nullptr));
        ASSERT_TRUE(sensor->wait_for(c.acked ? 2 : 1, 500ms));
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * test_timeout_ms));
        auto w = wire();
        ASSERT_EQ(w.size(), c.acked ? 2u : 1u) << int(flags);
        if (c.acked) {
            EXPECT_EQ(w[1], header_bytes(c.ack_flags, serial, 0x7777, 0x5E, 0x03, 0));
        }
        EXPECT_EQ(counter(), static_cast<std::uint16_t>(before + 1));
    }
}

TEST_F(exchange_test, counter_wraps_from_65535_to_0) {
    script([](const bytes& req, std::size_t) -> std::vector<bytes> { return {reply_for(req, 0x14)}; });
    counter() = 65535;
    ASSERT_TRUE(session->flush_params());
    ASSERT_TRUE(session->flush_params());
    auto w = wire(2);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(counter_of(w[0]), 65535);
    EXPECT_EQ(counter_of(w[1]), 0);
}

TEST_F(exchange_test, counter_advances_on_send_even_without_reply_but_on_reply_only_for_groups) {
    std::uint16_t start = counter();
    EXPECT_FALSE(session->flush_params());   // on send: +1
    EXPECT_FALSE(session->write_laser_params(nullptr));  // on reply: +0
    EXPECT_FALSE(session->write_laser_params(nullptr));  // reuses the value
    auto w = wire(21);
    ASSERT_EQ(w.size(), 7u + 7u + 7u);
    EXPECT_EQ(counter_of(w[0]), start);
    EXPECT_EQ(counter_of(w[7]), static_cast<std::uint16_t>(start + 1));
    EXPECT_EQ(counter_of(w[14]), static_cast<std::uint16_t>(start + 1));
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 1));
}

TEST_F(exchange_test, session_never_connected_fails_at_once_without_counting) {
    vorex_device_info_t info = session->info();
    vorex idle(&info, 5);
    EXPECT_FALSE(idle.flush_params());
    EXPECT_FALSE(idle.read_general_params(nullptr));
    EXPECT_EQ(vorex_session_access::counter(idle), 5);
    EXPECT_TRUE(wire().empty());
}

}  // namespace
}  // namespace vorex_test
