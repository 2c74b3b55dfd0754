// The eleven parameter groups on the wire: commands, sizes, the cache
// slice each one reads and writes, acknowledgements and the counter.
#include "params_test_support.h"

namespace vorex_test {
namespace {

class group_wire_test : public params_test, public ::testing::WithParamInterface<group_case> {};

TEST_P(group_wire_test, read_replaces_exactly_its_slice_and_fills_the_record) {
    const group_case& g = GetParam();
    set_block(session->params(), pattern(block_size, 5));
    const bytes before = cache();
    const bytes first = inverted(before, g.offset, g.size);
    const bytes second = pattern(static_cast<std::size_t>(g.size), 0x61);
    const std::size_t size = static_cast<std::size_t>(g.size);
    answer([first, second, size](const bytes& req, std::size_t n) -> std::vector<bytes> {
        if (n == 0) {
            // One byte short, one byte long, then the reply; none asks for
            // an acknowledgement that would be sent.
            return {reply_sized(req, 0x1C, 14 + size - 1, 0x11), reply_sized(req, 0x1C, 14 + size + 1, 0x22),
                    reply_for(req, 0x14, first)};
        }
        return {foreign_reply(req, 0x1C, second)};
    });
    const std::uint16_t c0 = counter();

    // The record carries guard bytes behind it that must stay untouched.
    bytes record(size + 8, 0xEE);
    ASSERT_TRUE(g.read(*session, record.data()));
    bytes expected = with_slice(before, g.offset, first);
    EXPECT_EQ(cache(), expected);
    EXPECT_EQ(bytes(record.begin(), record.begin() + g.size), first);
    EXPECT_EQ(bytes(record.begin() + g.size, record.end()), bytes(8, 0xEE));
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 1));

    ASSERT_TRUE(g.read(*session, nullptr));
    expected = with_slice(expected, g.offset, second);
    EXPECT_EQ(cache(), expected);
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 2));
    EXPECT_STREQ(session->error_msg(), "No error");

    auto w = wire(3);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0], request_header(serial, c0, g.read_word, 0));
    EXPECT_EQ(w[1], request_header(serial, static_cast<std::uint16_t>(c0 + 1), g.read_word, 0));
    // Built from the reply: its serial, counter, reserved bytes and command.
    EXPECT_EQ(w[2], foreign_ack(0x24, g.read_word));
}

TEST_P(group_wire_test, write_sends_its_slice_of_the_cache_with_and_without_a_record) {
    const group_case& g = GetParam();
    set_block(session->params(), pattern(block_size, 9));
    const bytes before = cache();
    const bytes record = inverted(before, g.offset, g.size);
    bytes caller = record;
    // The reply asks for an acknowledgement; a write never sends one.
    answer_bare(0x1C);
    const std::uint16_t c0 = counter();

    ASSERT_TRUE(g.write(*session, caller.data()));
    bytes expected = with_slice(before, g.offset, record);
    EXPECT_EQ(cache(), expected);
    EXPECT_EQ(caller, record);
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 1));

    // Changes made through params() go out with a null record.
    const bytes direct = pattern(static_cast<std::size_t>(g.size), 0x47);
    std::memcpy(reinterpret_cast<std::uint8_t*>(&session->params()) + g.offset, direct.data(), direct.size());
    expected = with_slice(expected, g.offset, direct);
    ASSERT_TRUE(g.write(*session, nullptr));
    EXPECT_EQ(cache(), expected);
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 2));
    EXPECT_STREQ(session->error_msg(), "No error");

    auto w = wire(2);
    ASSERT_EQ(w.size(), 2u);
    const auto length = static_cast<std::uint16_t>(g.size);
    ASSERT_EQ(w[0].size(), g.datagram);
    EXPECT_EQ(bytes(w[0].begin(), w[0].begin() + 14), request_header(serial, c0, g.write_word, length));
    EXPECT_EQ(payload_of(w[0]), record);
    ASSERT_EQ(w[1].size(), g.datagram);
    EXPECT_EQ(bytes(w[1].begin(), w[1].begin() + 14),
              request_header(serial, static_cast<std::uint16_t>(c0 + 1), g.write_word, length));
    EXPECT_EQ(payload_of(w[1]), direct);
}

INSTANTIATE_TEST_SUITE_P(all, group_wire_test, ::testing::ValuesIn(all_groups), group_name);

// Group reads answer the reply's own request for acknowledgement: the
// acknowledgement keeps the low flag bits, sets type 2 and bit 2.
TEST_F(params_test, group_read_acknowledgement_flags_follow_the_reply_flags) {
    struct {
        std::uint8_t reply_flags;
        int ack_flags;  // -1: no acknowledgement
    } cases[] = {{0x1C, 0x24}, {0x1B, 0x27}, {0x1A, 0x26}, {0x09, 0x25}, {0x14, -1}, {0x17, -1}, {0x00, -1}};
    std::size_t k = 0;
    for (auto c : cases) {
        const group_case& g = all_groups[k++ % std::size(all_groups)];
        sensor->clear_wire();
        const std::uint8_t flags = c.reply_flags;
        const bytes payload = pattern(static_cast<std::size_t>(g.size), flags);
        answer([flags, payload](const bytes& req, std::size_t) -> std::vector<bytes> {
            return {foreign_reply(req, flags, payload)};
        });
        ASSERT_TRUE(g.read(*session, nullptr)) << g.name;
        const std::size_t expected = c.ack_flags < 0 ? 1 : 2;
        auto w = wire(expected);
        ASSERT_EQ(w.size(), expected) << "reply flags " << int(flags);
        if (c.ack_flags >= 0) {
            EXPECT_EQ(w[1], foreign_ack(static_cast<std::uint8_t>(c.ack_flags), g.read_word));
        }
    }
}

TEST_F(params_test, timed_out_group_write_keeps_the_callers_bytes_and_the_counter_for_the_retry) {
    const group_case& laser = all_groups[8];
    set_block(session->params(), pattern(block_size, 3));
    const bytes before = cache();
    bytes record = inverted(before, laser.offset, laser.size);
    const std::uint16_t c0 = counter();

    EXPECT_FALSE(laser.write(*session, record.data()));
    EXPECT_STREQ(session->error_msg(), "No error");
    EXPECT_EQ(cache(), with_slice(before, laser.offset, record));
    EXPECT_EQ(counter(), c0);
    auto w = wire(7);
    ASSERT_EQ(w.size(), 7u);  // the request and six resends, all alike
    for (const bytes& d : w) {
        ASSERT_EQ(d.size(), 50u);
        EXPECT_EQ(bytes(d.begin(), d.begin() + 14), request_header(serial, c0, 0x125E, 36));
        EXPECT_EQ(payload_of(d), record);
    }

    // The retry goes out with the same counter and then counts once.
    sensor->clear_wire();
    answer_bare(0x14);
    ASSERT_TRUE(laser.write(*session, nullptr));
    w = wire(1);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(counter_of(w[0]), c0);
    EXPECT_EQ(payload_of(w[0]), record);
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 1));
}

TEST_F(params_test, group_read_passes_over_wrong_lengths_and_times_out_with_cache_and_counter_unchanged) {
    answer([](const bytes& req, std::size_t n) -> std::vector<bytes> {
        if (n > 0) return {};
        return {reply_sized(req, 0x14, 205, 0x11), reply_sized(req, 0x14, 207, 0x22)};
    });
    set_block(session->params(), pattern(block_size, 1));
    const bytes before = cache();
    bytes record(192, 0xEE);
    const std::uint16_t c0 = counter();
    EXPECT_FALSE(session->read_general_params(reinterpret_cast<vorex_general_params_t*>(record.data())));
    EXPECT_EQ(cache(), before);
    EXPECT_EQ(record, bytes(192, 0xEE));
    EXPECT_EQ(counter(), c0);
    EXPECT_EQ(wire(7).size(), 7u);  // the wrong lengths did not end the wait
}

TEST_F(params_test, counter_wraps_for_group_and_whole_block_operations) {
    answer([](const bytes& req, std::size_t) -> std::vector<bytes> {
        const std::uint16_t word = vorex_wire::load_u16_le(&req[vorex_wire::at_class]);
        if (word == 0x0250) return {reply_for(req, 0x14, bytes(block_size, 0))};
        if (word == 0x035E) return {reply_for(req, 0x14, bytes(82, 0))};
        return {reply_for(req, 0x14)};
    });
    counter() = 65535;
    ASSERT_TRUE(session->read_sysmon_params(nullptr));  // counts on reply
    EXPECT_EQ(counter(), 0);
    counter() = 65535;
    ASSERT_TRUE(session->read_params(nullptr));  // counts on send; acknowledges with 65535
    EXPECT_EQ(counter(), 0);
    ASSERT_TRUE(session->write_stream_params(nullptr));
    EXPECT_EQ(counter(), 1);

    auto w = wire(4);
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(counter_of(w[0]), 65535);
    EXPECT_EQ(counter_of(w[1]), 65535);
    EXPECT_EQ(w[2], header_bytes(0x24, serial, 65535, 0x50, 0x02, 0));
    EXPECT_EQ(counter_of(w[3]), 0);
}

}  // namespace
}  // namespace vorex_test
