// The whole parameter block on the wire: read, write, flush, reboot and
// reset, with the cache, the caller's record and the counter.
#include "params_test_support.h"

namespace vorex_test {
namespace {

constexpr std::size_t block_reply = 14 + block_size;

// read_params acknowledges every reply it takes, from its own request:
// whatever the reply's flags, serial, counter or reserved bytes say.
TEST_F(params_test, read_params_takes_the_block_and_acknowledges_from_its_request) {
    for (std::uint8_t flags : {std::uint8_t{0x14}, std::uint8_t{0x1C}, std::uint8_t{0x1B}, std::uint8_t{0x00}}) {
        sensor->clear_wire();
        set_block(session->params(), pattern(block_size, 2));
        const bytes block = inverted(cache(), 0, static_cast<int>(block_size));
        answer([flags, block](const bytes& req, std::size_t) -> std::vector<bytes> {
            return {foreign_reply(req, flags, block)};
        });
        const std::uint16_t c0 = counter();
        bytes record(block_size + 8, 0xEE);
        ASSERT_TRUE(session->read_params(reinterpret_cast<vorex_user_params_t*>(record.data())));
        EXPECT_EQ(cache(), block);
        EXPECT_EQ(bytes(record.begin(), record.begin() + block_size), block);
        EXPECT_EQ(bytes(record.begin() + block_size, record.end()), bytes(8, 0xEE));
        EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 1));
        EXPECT_STREQ(session->error_msg(), "No error");
        auto w = wire(2);
        ASSERT_EQ(w.size(), 2u) << "reply flags " << int(flags);
        EXPECT_EQ(w[0], request_header(serial, c0, 0x0250, 0));
        EXPECT_EQ(w[1], header_bytes(0x24, serial, c0, 0x50, 0x02, 0));
    }
}

TEST_F(params_test, read_params_without_record_fills_the_cache) {
    const bytes block = pattern(block_size, 0x3D);
    answer([block](const bytes& req, std::size_t) -> std::vector<bytes> { return {reply_for(req, 0x14, block)}; });
    ASSERT_TRUE(session->read_params(nullptr));
    EXPECT_EQ(cache(), block);
    EXPECT_EQ(wire(2).size(), 2u);
}

// One receive decides: a datagram of the wrong length fails the read even
// when the right one is queued right behind it.
class read_params_length_test : public params_test, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(read_params_length_test, wrong_length_fails_at_once) {
    const std::size_t length = GetParam();
    answer([length](const bytes& req, std::size_t n) -> std::vector<bytes> {
        if (n > 0) return {};
        return {reply_sized(req, 0x1C, length, 0x11), reply_sized(req, 0x1C, block_reply, 0x22)};
    });
    set_block(session->params(), pattern(block_size, 4));
    const bytes before = cache();
    bytes record(block_size, 0xEE);
    const std::uint16_t c0 = counter();
    EXPECT_FALSE(session->read_params(reinterpret_cast<vorex_user_params_t*>(record.data())));
    EXPECT_STREQ(session->error_msg(), "No error");
    EXPECT_EQ(cache(), before);
    EXPECT_EQ(record, bytes(block_size, 0xEE));
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 1));
    auto w = wire(1);
    ASSERT_EQ(w.size(), 1u);  // neither an acknowledgement nor a resend
    EXPECT_EQ(w[0], request_header(serial, c0, 0x0250, 0));
}

INSTANTIATE_TEST_SUITE_P(lengths, read_params_length_test, ::testing::Values(block_reply - 1, block_reply + 1, 14));

TEST_F(params_test, read_params_does_not_wait_beyond_one_receive) {
    // The reply comes, whole and well formed, three receive timeouts late.
    sensor->set_handler([](const vorex_sim::datagram& d, vorex_sim::udp_endpoint& ep) {
        if (!is_request(d.data)) return;
        ep.send(reply_for(d.data, 0x1C, pattern(block_size, 0x50)), d.from,
                std::chrono::milliseconds(3 * test_timeout_ms));
    });
    set_block(session->params(), pattern(block_size, 6));
    const bytes before = cache();
    const std::uint16_t c0 = counter();
    EXPECT_FALSE(session->read_params(nullptr));
    EXPECT_EQ(cache(), before);
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 1));
    // Long enough for a resend after five empty receives to show.
    std::this_thread::sleep_for(std::chrono::milliseconds(7 * test_timeout_ms));
    auto w = wire(1);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0], request_header(serial, c0, 0x0250, 0));
}

TEST_F(params_test, write_params_sends_the_cache_after_taking_the_record) {
    answer_bare(0x1C);  // asks for an acknowledgement; a block write sends none
    set_block(session->params(), pattern(block_size, 8));
    const bytes first = inverted(cache(), 0, static_cast<int>(block_size));
    const std::uint16_t c0 = counter();

    vorex_user_params_t record;
    set_block(record, first);
    ASSERT_TRUE(session->write_params(&record));
    EXPECT_EQ(cache(), first);
    EXPECT_EQ(block_of(record), first);

    // Changes made through params() go out with a null record.
    session->params().roi.bytes[5] = static_cast<std::uint8_t>(~session->params().roi.bytes[5]);
    session->params().reserved_tail[282] = static_cast<std::uint8_t>(~session->params().reserved_tail[282]);
    const bytes second = cache();
    ASSERT_TRUE(session->write_params(nullptr));
    EXPECT_EQ(cache(), second);

    // The cache given as its own record stays as it is.
    ASSERT_TRUE(session->write_params(&session->params()));
    EXPECT_EQ(cache(), second);
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 3));
    EXPECT_STREQ(session->error_msg(), "No error");

    auto w = wire(3);
    ASSERT_EQ(w.size(), 3u);
    const bytes sent[] = {first, second, second};
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(w[i].size(), block_reply);
        EXPECT_EQ(bytes(w[i].begin(), w[i].begin() + 14),
                  request_header(serial, static_cast<std::uint16_t>(c0 + i), 0x0350, 1400));
        EXPECT_EQ(payload_of(w[i]), sent[i]) << i;
    }
}

TEST_F(params_test, write_params_without_reply_keeps_the_record_in_the_cache_and_counts) {
    set_block(session->params(), pattern(block_size, 10));
    const bytes block = inverted(cache(), 0, static_cast<int>(block_size));
    vorex_user_params_t record;
    set_block(record, block);
    const std::uint16_t c0 = counter();

    EXPECT_FALSE(session->write_params(&record));
    EXPECT_STREQ(session->error_msg(), "No error");
    EXPECT_EQ(cache(), block);
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 1));
    auto w = wire(7);
    ASSERT_EQ(w.size(), 7u);  // the whole request, resent six times unchanged
    for (const bytes& d : w) {
        ASSERT_EQ(d.size(), block_reply);
        EXPECT_EQ(bytes(d.begin(), d.begin() + 14), request_header(serial, c0, 0x0350, 1400));
        EXPECT_EQ(payload_of(d), block);
    }

    sensor->clear_wire();
    answer_bare(0x14);
    ASSERT_TRUE(session->flush_params());
    w = wire(1);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0], request_header(serial, static_cast<std::uint16_t>(c0 + 1), 0x1050, 0));
}

struct bare_case {
    const char* name;
    bool (vorex::*operation)();
    std::uint16_t word;
};

std::ostream& operator<<(std::ostream& os, const bare_case& c) { return os << c.name; }

class bare_command_test : public params_test, public ::testing::WithParamInterface<bare_case> {};

TEST_P(bare_command_test, sends_a_bare_request_and_takes_only_a_bare_reply) {
    const bare_case& c = GetParam();
    answer([](const bytes& req, std::size_t) -> std::vector<bytes> {
        bytes short_reply = reply_for(req, 0x1C);
        short_reply.pop_back();
        return {reply_sized(req, 0x1C, 15, 0x11), short_reply, reply_for(req, 0x1C)};
    });
    set_block(session->params(), pattern(block_size, 12));
    const bytes before = cache();
    const std::uint16_t c0 = counter();
    ASSERT_TRUE(((*session).*c.operation)());
    EXPECT_EQ(cache(), before);
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(c0 + 1));
    EXPECT_STREQ(session->error_msg(), "No error");
    auto w = wire(1);
    ASSERT_EQ(w.size(), 1u);  // no acknowledgement
    EXPECT_EQ(w[0], request_header(serial, c0, c.word, 0));
}

INSTANTIATE_TEST_SUITE_P(commands, bare_command_test,
                         ::testing::Values(bare_case{"flush", &vorex::flush_params, 0x1050},
                                           bare_case{"reboot", &vorex::reboot, 0x1250}),
                         [](const ::testing::TestParamInfo<bare_case>& i) { return std::string(i.param.name); });

TEST_F(params_test, reset_params_is_not_implemented_and_the_next_operation_clears_the_message) {
    vorex_device_info_t info = session->info();
    vorex idle(&info, 5);
    set_block(idle.params(), pattern(block_size, 14));
    const bytes before = block_of(idle.params());

    EXPECT_FALSE(idle.reset_params());
    EXPECT_STREQ(idle.error_msg(), "Not implemented");
    EXPECT_EQ(vorex_session_access::counter(idle), 5);
    EXPECT_EQ(block_of(idle.params()), before);
    EXPECT_FALSE(idle.read_general_params(nullptr));  // fails, yet resets the message
    EXPECT_STREQ(idle.error_msg(), "No error");

    answer_bare(0x14);
    const std::uint16_t c0 = counter();
    EXPECT_FALSE(session->reset_params());
    EXPECT_STREQ(session->error_msg(), "Not implemented");
    EXPECT_EQ(counter(), c0);
    ASSERT_TRUE(session->flush_params());
    EXPECT_STREQ(session->error_msg(), "No error");
    EXPECT_FALSE(session->reset_params());
    ASSERT_TRUE(session->write_laser_params(nullptr));
    EXPECT_STREQ(session->error_msg(), "No error");

    auto w = wire(2);
    ASSERT_EQ(w.size(), 2u);  // the flush and the group write, nothing from reset_params
    EXPECT_EQ(w[0], request_header(serial, c0, 0x1050, 0));
}

TEST_F(params_test, operations_of_a_session_never_connected_fail_without_counting_but_writes_fill_the_cache) {
    vorex_device_info_t info = session->info();
    vorex idle(&info, 77);
    set_block(idle.params(), pattern(block_size, 16));
    const bytes block = inverted(block_of(idle.params()), 0, static_cast<int>(block_size));
    vorex_user_params_t record;
    set_block(record, block);

    EXPECT_FALSE(idle.read_params(nullptr));
    EXPECT_FALSE(idle.flush_params());
    EXPECT_FALSE(idle.reboot());
    EXPECT_FALSE(idle.write_params(&record));
    EXPECT_EQ(block_of(idle.params()), block);
    vorex_outputs_params_t outputs;
    std::memset(&outputs, 0x5C, sizeof outputs);
    EXPECT_FALSE(idle.write_outputs_params(&outputs));
    EXPECT_EQ(block_of(idle.params()), with_slice(block, 1063, bytes(54, 0x5C)));
    EXPECT_EQ(vorex_session_access::counter(idle), 77);
    EXPECT_STREQ(idle.error_msg(), "No error");
    EXPECT_TRUE(wire().empty());
}

}  // namespace
}  // namespace vorex_test
