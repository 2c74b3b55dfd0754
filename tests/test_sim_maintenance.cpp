// The simulated sensor's firmware store and log: the model fed datagrams
// directly, and the library against it on loopback.
#include <cstdio>

#include "maintenance_support.h"

namespace vorex_test {
namespace {

using vorex_sim::decode_log_record;
using vorex_sim::device_model;
namespace log_code = vorex_sim::log_code;

constexpr std::size_t record_size = sizeof(vorex_log_record_t);

bytes request(std::uint8_t command_class, std::uint8_t command_code, const bytes& payload = {}) {
    bytes out = header_bytes(0x1C, 1001, 1, command_class, command_code, static_cast<std::uint16_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

bytes chunk(std::uint32_t offset, const bytes& data) {
    bytes payload(4);
    vorex_wire::store_u32_le(payload.data(), offset);
    payload.insert(payload.end(), data.begin(), data.end());
    return request(0x5A, 0x20, payload);
}

bytes log_read(std::uint32_t index) {
    bytes payload(4);
    vorex_wire::store_u32_le(payload.data(), index);
    return request(0x5E, 0x17, payload);
}

std::vector<vorex_log_record_t> records_of(const bytes& log_reply) {
    std::vector<vorex_log_record_t> out((log_reply.size() - 18) / record_size);
    if (!out.empty()) std::memcpy(out.data(), log_reply.data() + 18, out.size() * record_size);
    return out;
}

// ---- The model alone ----

TEST(sim_firmware_store, takes_contiguous_chunks_and_answers_their_checksum) {
    device_model m({});
    const bytes image = firmware_pattern(2000);
    const bytes first(image.begin(), image.begin() + 1276), second(image.begin() + 1276, image.end());
    for (const bytes& d : {chunk(0, first), chunk(1276, second), chunk(1276, second)}) {  // the last: a resend
        auto r = m.handle_service(d);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].data.size(), 14u);
    }
    EXPECT_EQ(m.firmware().received, 2000u);
    EXPECT_EQ(m.firmware().rejected_chunks, 0u);

    auto r = m.handle_service(request(0x5A, 0x21));
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(r[0].data.size(), 16u);
    EXPECT_EQ(vorex_wire::load_u16_le(&r[0].data[14]), reference_checksum(image));
    EXPECT_EQ(r[0].data[0] & 0x08, 0);  // never asks for an acknowledgement

    // A chunk at offset 0 starts a new image.
    m.handle_service(chunk(0, {'a', 'b', 'c'}));
    r = m.handle_service(request(0x5A, 0x21));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(vorex_wire::load_u16_le(&r[0].data[14]), 35034);
}

TEST(sim_firmware_store, a_gap_breaks_the_image_so_it_is_neither_verified_nor_committed) {
    device_model m({});
    m.handle_service(chunk(0, bytes(1276, 1)));
    auto r = m.handle_service(chunk(2552, bytes(10, 2)));  // chunk 1276 skipped
    EXPECT_EQ(r.size(), 1u);                                // answered all the same
    EXPECT_EQ(m.firmware().rejected_chunks, 1u);
    EXPECT_EQ(m.firmware().received, 1276u);
    EXPECT_TRUE(m.handle_service(request(0x5A, 0x21)).empty());

    r = m.handle_service(request(0x5A, 0x22));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(vorex_wire::load_u16_le(&r[1].data[14]), 1);  // refused
    EXPECT_EQ(m.firmware().commits, 0u);
}

TEST(sim_firmware_store, malformed_chunks_get_no_answer) {
    device_model m({});
    EXPECT_TRUE(m.handle_service(request(0x5A, 0x20, {0, 0, 0, 0})).empty());  // offset, no data
    EXPECT_TRUE(m.handle_service(chunk(0, bytes(1277, 0))).empty());          // too long
    EXPECT_TRUE(m.handle_service(request(0x5A, 0x20, {0, 0})).empty());
    EXPECT_EQ(m.firmware().received, 0u);
}

TEST(sim_firmware_store, commit_answers_at_once_then_completes_after_the_delay_and_only_once) {
    vorex_sim::device_config c;
    c.commit_delay = std::chrono::milliseconds(250);
    device_model m(c);
    m.handle_service(chunk(0, {'a', 'b', 'c'}));
    auto r = m.handle_service(request(0x5A, 0x22));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].data, header_bytes(0x14, 1001, 1, 0x5A, 0x22, 0));
    EXPECT_EQ(r[0].delay.count(), 0);
    ASSERT_EQ(r[1].data.size(), 18u);
    EXPECT_EQ(r[1].delay, c.commit_delay);
    EXPECT_EQ(vorex_wire::load_u16_le(&r[1].data[14]), 0);      // committed
    EXPECT_EQ(vorex_wire::load_u16_le(&r[1].data[16]), 35034);  // what
    EXPECT_EQ(m.firmware().commits, 1u);
    EXPECT_EQ(m.firmware().received, 0u);

    // A resent commit request while it runs: answered, nothing started.
    r = m.handle_service(request(0x5A, 0x22));
    EXPECT_EQ(r.size(), 1u);
    EXPECT_EQ(m.firmware().commits, 1u);
}

TEST(sim_log, opens_with_power_on_and_serves_runs_of_up_to_240_from_the_index) {
    device_model m({});
    auto r = m.handle_service(request(0x5E, 0x18));
    ASSERT_EQ(r.size(), 1u);
    bytes expected = header_bytes(0x14, 1001, 1, 0x5E, 0x18, 4);
    expected.insert(expected.end(), {1, 0, 0, 0});
    EXPECT_EQ(r[0].data, expected);

    auto first = records_of(m.handle_service(log_read(0))[0].data);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(decode_log_record(first[0]).code, log_code::power_on);
    EXPECT_EQ(decode_log_record(first[0]).sequence, 0u);
    EXPECT_EQ(decode_log_record(first[0]).text, "power on, serial 1001");

    for (int i = 0; i < 299; ++i) m.log_event(50, "event " + std::to_string(i));
    struct {
        std::uint32_t index;
        std::size_t records;
    } cases[] = {{0, 240}, {60, 240}, {61, 239}, {299, 1}, {300, 0}, {100000, 0}};
    for (const auto& c : cases) {
        r = m.handle_service(log_read(c.index));
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0].data.size(), 18 + c.records * record_size) << c.index;
        EXPECT_EQ(vorex_wire::load_u32_le(&r[0].data[14]), 300u);  // the log's size
        auto run = records_of(r[0].data);
        for (std::size_t i = 0; i < run.size(); ++i) EXPECT_EQ(decode_log_record(run[i]).sequence, c.index + i);
    }
    EXPECT_TRUE(m.handle_service(request(0x5E, 0x17, {0, 0})).empty());  // no index
}

TEST(sim_log, keeps_the_newest_records_when_full) {
    device_model m({});
    for (int i = 0; i < 5000; ++i) m.log_event(50, "x");
    EXPECT_EQ(m.log_size(), 4096u);
    auto run = records_of(m.handle_service(log_read(0))[0].data);
    ASSERT_FALSE(run.empty());
    EXPECT_EQ(decode_log_record(run[0]).sequence, 5001u - 4096u);
}

TEST(sim_log, a_long_text_is_cut_to_fit_its_record) {
    device_model m({});
    m.log_event(50, std::string(500, 'q'));
    auto run = records_of(m.handle_service(log_read(1))[0].data);
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(decode_log_record(run[0]).text, std::string(125, 'q'));
    EXPECT_EQ(decode_log_record(run[0]).code, 50);
}

// ---- The library against the simulated sensor ----

vorex_sim::device_config quick_commit() {
    vorex_sim::device_config c;
    c.commit_delay = std::chrono::milliseconds(150);
    return c;
}

class maintenance_sim_test : public sim_test {
protected:
    maintenance_sim_test() : sim_test(quick_commit()) {}

    device_model& model() { return sim->device(0); }

    // The whole log, read in runs of what the sensor serves.
    std::vector<vorex_sim::log_entry> whole_log() {
        std::vector<vorex_sim::log_entry> out;
        const unsigned int size = session->read_log_record_count();
        std::vector<vorex_log_record_t> run(240);
        for (unsigned int index = 0; index < size;) {
            const int count = static_cast<int>(std::min(240u, size - index));
            EXPECT_TRUE(session->read_log(index, run.data(), count)) << index;
            for (int i = 0; i < count; ++i) out.push_back(decode_log_record(run[static_cast<std::size_t>(i)]));
            index += static_cast<unsigned int>(count);
        }
        return out;
    }

    temp_dir dir;
};

TEST_F(maintenance_sim_test, upload_commit_and_find_the_commit_in_the_log) {
    const bytes image = firmware_pattern(5000);
    const std::string path = dir.write("image.bin", image);
    ASSERT_TRUE(session->write_firmware_image(path.c_str())) << session->error_msg();
    EXPECT_EQ(model().firmware().received, 5000u);
    ASSERT_TRUE(session->flush_firmware_image()) << session->error_msg();
    EXPECT_EQ(model().firmware().commits, 1u);

    char expected[64];
    std::snprintf(expected, sizeof expected, "firmware committed, 5000 bytes, checksum 0x%04X",
                  reference_checksum(image));
    auto log = whole_log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front().code, log_code::power_on);
    EXPECT_EQ(log[log.size() - 2].code, log_code::firmware_checked);
    EXPECT_EQ(log.back().code, log_code::firmware_committed);
    EXPECT_EQ(log.back().text, expected);
    for (std::size_t i = 1; i < log.size(); ++i) EXPECT_GE(log[i].uptime_ms, log[i - 1].uptime_ms);
}

TEST_F(maintenance_sim_test, the_log_grows_with_parameter_flushes_and_reboots) {
    ASSERT_TRUE(session->flush_params());
    ASSERT_TRUE(session->reboot());
    auto log = whole_log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].code, log_code::parameters_saved);
    EXPECT_EQ(log[2].code, log_code::reboot);
    EXPECT_EQ(log[2].sequence, 2u);

    // The sensor sends every record from the index on: a read asking for
    // fewer than that fails.
    std::vector<vorex_log_record_t> run(3);
    EXPECT_FALSE(session->read_log(0, run.data(), 2));
    EXPECT_TRUE(session->read_log(1, run.data(), 2));
}

TEST_F(maintenance_sim_test, a_log_longer_than_one_datagram_is_read_in_runs) {
    for (int i = 0; i < 300; ++i) model().log_event(60, "entry " + std::to_string(i));
    auto log = whole_log();
    ASSERT_EQ(log.size(), 301u);
    for (std::size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].sequence, i);
    EXPECT_EQ(log.back().text, "entry 299");
}

TEST_F(maintenance_sim_test, a_sensor_whose_checksum_disagrees_fails_the_upload) {
    model().set_checksum_fault(true);
    const std::string path = dir.write("image.bin", firmware_pattern(3000));
    EXPECT_FALSE(session->write_firmware_image(path.c_str()));
    EXPECT_STREQ(session->error_msg(), "CRC does not match");
}

TEST_F(maintenance_sim_test, a_commit_with_no_image_completes_and_is_logged_as_refused) {
    ASSERT_TRUE(session->flush_firmware_image());
    auto log = whole_log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().code, log_code::firmware_refused);
}

}  // namespace
}  // namespace vorex_test
