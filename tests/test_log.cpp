// The device log against a scripted sensor: exact request bytes, reply
// lengths, the 240-record bound, counters and argument checks.
#include "maintenance_support.h"

namespace vorex_test {
namespace {

constexpr std::size_t record_size = sizeof(vorex_log_record_t);

// A log read reply holding `records` records whose bytes tell their
// position in the reply.
bytes log_reply(const bytes& request, std::size_t records, std::uint8_t flags = 0x14) {
    bytes payload(4 + records * record_size);
    vorex_wire::store_u32_le(payload.data(), 999);  // not looked at by the library
    for (std::size_t i = 4; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 13 + 1);
    return reply_for(request, flags, payload);
}

class log_test : public scripted_test {
protected:
    // Answers every log read with a run of `records` records.
    void answer_reads_with(std::size_t records) {
        script([records](const bytes& req, std::size_t) -> std::vector<bytes> {
            if (is_request(req) && is_command(req, 0x5E, 0x17)) return {log_reply(req, records)};
            return {};
        });
    }

    std::vector<vorex_log_record_t> untouched(std::size_t n) {
        std::vector<vorex_log_record_t> r(n);
        for (auto& rec : r) std::memset(rec.bytes, 0xEE, sizeof rec.bytes);
        return r;
    }
};

bool all_bytes_are(const std::vector<vorex_log_record_t>& records, std::uint8_t value) {
    for (const auto& r : records)
        for (std::uint8_t b : r.bytes)
            if (b != value) return false;
    return true;
}

TEST_F(log_test, read_log_sends_the_index_and_copies_exactly_count_records) {
    answer_reads_with(3);
    const std::uint16_t start = counter();
    auto records = untouched(4);
    ASSERT_TRUE(session->read_log(7, records.data(), 3));
    EXPECT_STREQ(session->error_msg(), "No error");

    auto w = wire(1);
    ASSERT_EQ(w.size(), 1u);  // no acknowledgement
    bytes expected = header_bytes(0x1C, serial, start, 0x5E, 0x17, 4);
    expected.insert(expected.end(), {0x07, 0x00, 0x00, 0x00});
    EXPECT_EQ(w[0], expected);
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 1));

    // Reply bytes 18..425 fill the first three records; the fourth is left.
    const bytes reply = log_reply(w[0], 3);
    ASSERT_EQ(reply.size(), 426u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(0, std::memcmp(records[i].bytes, reply.data() + 18 + i * record_size, record_size)) << i;
    EXPECT_TRUE(all_bytes_are({records[3]}, 0xEE));
}

TEST_F(log_test, a_reply_with_another_number_of_records_fails_and_leaves_the_records) {
    for (std::size_t sent : {2u, 4u, 0u}) {  // 290, 562 and 18 bytes for a read of 3
        answer_reads_with(sent);
        const std::uint16_t start = counter();
        auto records = untouched(3);
        EXPECT_FALSE(session->read_log(0, records.data(), 3)) << sent;
        EXPECT_TRUE(all_bytes_are(records, 0xEE)) << sent;
        EXPECT_STREQ(session->error_msg(), "No error");
        EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 1));
    }
}

TEST_F(log_test, count_240_takes_a_reply_of_32658_bytes) {
    answer_reads_with(240);
    auto records = untouched(240);
    ASSERT_TRUE(session->read_log(0, records.data(), 240));
    const bytes reply = log_reply(header_bytes(0x1C, serial, 0, 0x5E, 0x17, 4), 240);
    ASSERT_EQ(reply.size(), 32658u);
    EXPECT_EQ(0, std::memcmp(records.data(), reply.data() + 18, 240 * record_size));
}

TEST_F(log_test, bad_arguments_are_refused_before_anything_happens) {
    answer_reads_with(3);
    auto records = untouched(241);
    struct {
        vorex_log_record_t* records;
        int count;
    } cases[] = {{nullptr, 5}, {records.data(), 0}, {records.data(), -1}, {records.data(), 241},
                 {records.data(), 100000}};
    EXPECT_FALSE(session->reset_params());  // leaves a message the refusals must keep
    const std::uint16_t start = counter();
    for (const auto& c : cases) {
        EXPECT_FALSE(session->read_log(0, c.records, c.count)) << c.count;
        EXPECT_STREQ(session->error_msg(), "Not implemented") << c.count;
    }
    EXPECT_TRUE(all_bytes_are(records, 0xEE));
    EXPECT_EQ(counter(), start);
    EXPECT_TRUE(wire().empty());
}

TEST_F(log_test, record_count_reads_the_value_behind_the_header) {
    script([](const bytes& req, std::size_t) -> std::vector<bytes> {
        if (is_request(req) && is_command(req, 0x5E, 0x18)) return {reply_for(req, 0x1C, {0x05, 0x00, 0x00, 0x00})};
        return {};
    });
    const std::uint16_t start = counter();
    EXPECT_EQ(session->read_log_record_count(), 5u);
    auto w = wire(1);
    ASSERT_EQ(w.size(), 1u);  // the reply asked, yet no acknowledgement
    EXPECT_EQ(w[0], header_bytes(0x1C, serial, start, 0x5E, 0x18, 0));
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 1));
}

TEST_F(log_test, record_count_without_a_fitting_answer_is_zero_and_the_counter_still_advances) {
    struct {
        const char* name;
        std::size_t reply_payload;  // 0: no answer at all
    } cases[] = {{"no answer", 0}, {"short", 3}, {"long", 5}};
    for (const auto& c : cases) {
        const std::size_t payload = c.reply_payload;
        script([payload](const bytes& req, std::size_t) -> std::vector<bytes> {
            if (payload == 0 || !is_request(req)) return {};
            return {reply_for(req, 0x14, bytes(payload, 9))};
        });
        const std::uint16_t start = counter();
        EXPECT_EQ(session->read_log_record_count(), 0u) << c.name;
        EXPECT_STREQ(session->error_msg(), "No error");
        EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 1)) << c.name;
    }
}

// The overload tells an empty log from no answer; the count is written
// only when the sensor's reply came.
TEST_F(log_test, record_count_overload_reports_failure_apart_from_an_empty_log) {
    struct {
        const char* name;
        bool answer;
        bytes payload;
        bool result;
        unsigned int count;
    } cases[] = {{"five records", true, {0x05, 0x00, 0x00, 0x00}, true, 5},
                 {"empty log", true, {0x00, 0x00, 0x00, 0x00}, true, 0},
                 {"no answer", false, {}, false, 77},
                 {"short reply", true, {0x05, 0x00, 0x00}, false, 77}};
    for (const auto& c : cases) {
        const bool answer = c.answer;
        const bytes payload = c.payload;
        script([answer, payload](const bytes& req, std::size_t) -> std::vector<bytes> {
            if (!answer || !is_request(req) || !is_command(req, 0x5E, 0x18)) return {};
            return {reply_for(req, 0x1C, payload)};
        });
        const std::uint16_t start = counter();
        unsigned int count = 77;
        EXPECT_EQ(session->read_log_record_count(count), c.result) << c.name;
        EXPECT_EQ(count, c.count) << c.name;
        EXPECT_STREQ(session->error_msg(), "No error") << c.name;
        EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 1)) << c.name;
    }
    vorex_device_info_t info = session->info();
    vorex idle(&info, 9);
    unsigned int count = 77;
    EXPECT_FALSE(idle.read_log_record_count(count)) << "not connected";
    EXPECT_EQ(count, 77u);
}

TEST_F(log_test, a_silent_sensor_fails_a_read_after_one_receive_without_resend) {
    const std::uint16_t start = counter();
    auto records = untouched(1);
    EXPECT_FALSE(session->read_log(3, records.data(), 1));
    EXPECT_STREQ(session->error_msg(), "No error");
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(6 * test_timeout_ms));
    EXPECT_EQ(wire().size(), 1u);
}

TEST_F(log_test, an_unconnected_session_fails_without_counting) {
    vorex_device_info_t info = session->info();
    vorex idle(&info, 9);
    auto records = untouched(1);
    EXPECT_FALSE(idle.read_log(0, records.data(), 1));
    EXPECT_EQ(idle.read_log_record_count(), 0u);
    EXPECT_EQ(vorex_session_access::counter(idle), 9);
    EXPECT_TRUE(wire().empty());
}

}  // namespace
}  // namespace vorex_test
