// Firmware upload, checksum and commit against a scripted sensor: exact
// chunking, counters, resends, acknowledgements and error texts.
#include <atomic>
#include <thread>

#include "maintenance/checksum.h"
#include "maintenance_support.h"

namespace vorex_test {
namespace {

using vorex_wire::load_u16_le;

constexpr std::size_t chunk_max = 1276;

// ---- The checksum ----

TEST(image_checksum, known_values) {
    struct {
        bytes data;
        std::uint16_t expected;
    } cases[] = {
        {{}, 0},
        {{'a', 'b', 'c'}, 35034},         // word 0x6261 -> 0x87EF, + 0x63 -> 0x8852
        {{0x01}, 0x0001},                 // an odd byte is added unmultiplied
        {{0x01, 0x00}, 0xACE3},           // 44111 = 0xAC4F, low byte xor high byte
        {{0xFF, 0xFF}, 0x53E2},           // -44111 mod 65536 = 0x53B1
        {{0x00, 0x01}, 0x4F4F},           // 256 * 44111 mod 65536 = 0x4F00
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vorex_maintenance::image_checksum(c.data.data(), static_cast<std::uint32_t>(c.data.size())),
                  c.expected)
            << c.data.size() << " bytes";
        EXPECT_EQ(reference_checksum(c.data), c.expected);
    }
}

TEST(image_checksum, any_split_gives_the_value_of_one_pass) {
    const bytes data = firmware_pattern(3 * chunk_max + 5);
    const std::uint16_t whole = reference_checksum(data);
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, chunk_max,
                              chunk_max + 1, data.size()}) {
        vorex_maintenance::image_checksum_state state;
        for (std::size_t at = 0; at < data.size(); at += piece)
            state.update(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(state.value(), whole) << "pieces of " << piece;
    }
    vorex_maintenance::image_checksum_state with_empty_pieces;
    with_empty_pieces.update(data.data(), 0);
    with_empty_pieces.update(data.data(), data.size());
    with_empty_pieces.update(data.data(), 0);
    EXPECT_EQ(with_empty_pieces.value(), whole);
}

// ---- Upload ----

TEST_F(firmware_test, files_are_cut_into_chunks_of_1276_bytes_with_their_offsets) {
    struct {
        std::size_t size;
        std::vector<std::size_t> chunks;
    } cases[] = {
        {3, {3}},
        {1276, {1276}},
        {1277, {1276, 1}},
        {2552, {1276, 1276}},  // no empty third chunk
        {2553, {1276, 1276, 1}},
    };
    for (const auto& c : cases) {
        for (bool with_progress : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.size << " bytes" << (with_progress ? ", with progress" : ""));
            const bytes file = firmware_pattern(c.size, static_cast<std::uint32_t>(c.size));
            const std::string path = dir.write("image.bin", file);
            script(firmware_sensor(reference_checksum(file)));
            sensor->clear_wire();
            const std::uint16_t start = counter();

            const bool ok = with_progress
                                ? session->write_firmware_image(path.c_str(), [](std::uint64_t, std::uint64_t) {})
                                : session->write_firmware_image(path.c_str());
            ASSERT_TRUE(ok) << session->error_msg();
            EXPECT_STREQ(session->error_msg(), "No error");

            const std::size_t k = c.chunks.size();
            auto w = wire(k + 1);
            ASSERT_EQ(w.size(), k + 1);
            std::size_t offset = 0;
            for (std::size_t i = 0; i < k; ++i) {
                const std::size_t n = c.chunks[i];
                ASSERT_EQ(w[i].size(), 18 + n) << "chunk " << i;
                EXPECT_EQ(bytes(w[i].begin(), w[i].begin() + 14),
                          header_bytes(0x1C, serial, static_cast<std::uint16_t>(start + i), 0x5A, 0x20,
                                       static_cast<std::uint16_t>(4 + n)));
                EXPECT_EQ(chunk_offset(w[i]), offset);
                EXPECT_TRUE(std::equal(w[i].begin() + 18, w[i].end(), file.begin() + static_cast<long>(offset)));
                offset += n;
            }
            EXPECT_EQ(w[k], header_bytes(0x1C, serial, static_cast<std::uint16_t>(start + k), 0x5A, 0x21, 0));
            EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + k + 1));
        }
    }
}

TEST_F(firmware_test, abc_is_accepted_only_with_checksum_35034) {
    const std::string path = dir.write("abc.bin", {'a', 'b', 'c'});
    script(firmware_sensor(35034));
    EXPECT_TRUE(session->write_firmware_image(path.c_str())) << session->error_msg();

    script(firmware_sensor(35035));
    const std::uint16_t start = counter();
    EXPECT_FALSE(session->write_firmware_image(path.c_str()));
    EXPECT_STREQ(session->error_msg(), "CRC does not match");
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 2));  // one chunk and the checksum request
}

TEST_F(firmware_test, a_sensor_silent_from_the_third_chunk_gets_it_twenty_more_times_and_no_checksum_request) {
    reconnect_with_timeout(10);
    const bytes file = firmware_pattern(5 * chunk_max);
    const std::string path = dir.write("image.bin", file);
    script([](const bytes& req, std::size_t) -> std::vector<bytes> {
        if (is_request(req) && is_command(req, 0x5A, 0x20) && chunk_offset(req) < 2 * chunk_max)
            return {reply_for(req, 0x14)};
        return {};
    });
    const std::uint16_t start = counter();
    std::vector<std::uint64_t> progress;
    EXPECT_FALSE(session->write_firmware_image(
        path.c_str(), [&](std::uint64_t done, std::uint64_t) { progress.push_back(done); }));
    EXPECT_STREQ(session->error_msg(), "Socket operation timeout");

    auto w = wire(23);
    ASSERT_EQ(w.size(), 2u + 1u + 20u);
    EXPECT_EQ(chunk_offset(w[2]), 2 * chunk_max);
    EXPECT_EQ(counter_of(w[2]), static_cast<std::uint16_t>(start + 2));
    for (std::size_t i = 3; i < w.size(); ++i) EXPECT_EQ(w[i], w[2]) << "resend " << i - 2;
    for (const bytes& d : w) EXPECT_FALSE(is_command(d, 0x5A, 0x21));
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 3));
    EXPECT_EQ(progress, (std::vector<std::uint64_t>{chunk_max, 2 * chunk_max}));
}

TEST_F(firmware_test, an_unanswered_checksum_request_is_resent_and_times_out) {
    reconnect_with_timeout(10);
    const std::string path = dir.write("image.bin", firmware_pattern(100));
    script([](const bytes& req, std::size_t) -> std::vector<bytes> {
        if (is_request(req) && is_command(req, 0x5A, 0x20)) return {reply_for(req, 0x14)};
        return {};
    });
    const std::uint16_t start = counter();
    EXPECT_FALSE(session->write_firmware_image(path.c_str()));
    EXPECT_STREQ(session->error_msg(), "Socket operation timeout");
    auto w = wire(22);
    ASSERT_EQ(w.size(), 1u + 21u);
    for (std::size_t i = 1; i < w.size(); ++i)
        EXPECT_EQ(w[i], header_bytes(0x1C, serial, static_cast<std::uint16_t>(start + 1), 0x5A, 0x21, 0));
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 2));
}

TEST_F(firmware_test, replies_that_ask_are_acknowledged_and_the_next_chunk_header_stays_intact) {
    const bytes file = firmware_pattern(chunk_max + 1);
    const std::string path = dir.write("image.bin", file);
    const std::uint16_t checksum = reference_checksum(file);
    // Replies carry the sensor's own counter (0x7000 + the number of
    // datagrams it got before, acknowledgements included) and low flag
    // bits, which the acknowledgement must keep.
    script([checksum](const bytes& req, std::size_t i) -> std::vector<bytes> {
        if (!is_request(req)) return {};
        bytes payload;
        if (is_command(req, 0x5A, 0x21)) payload = {static_cast<std::uint8_t>(checksum), static_cast<std::uint8_t>(checksum >> 8)};
        bytes r = reply_for(req, is_command(req, 0x5A, 0x21) ? 0x1E : 0x1D, payload);
        vorex_wire::store_u16_le(&r[8], static_cast<std::uint16_t>(0x7000 + i));
        return {r};
    });
    const std::uint16_t start = counter();
    ASSERT_TRUE(session->write_firmware_image(path.c_str())) << session->error_msg();

    auto w = wire(6);
    ASSERT_EQ(w.size(), 6u);
    EXPECT_EQ(w[1], header_bytes(0x25, serial, 0x7000, 0x5A, 0x20, 0));
    EXPECT_EQ(bytes(w[2].begin(), w[2].begin() + 14),
              header_bytes(0x1C, serial, static_cast<std::uint16_t>(start + 1), 0x5A, 0x20, 5));
    EXPECT_EQ(chunk_offset(w[2]), chunk_max);
    EXPECT_EQ(w[3], header_bytes(0x25, serial, 0x7002, 0x5A, 0x20, 0));
    EXPECT_EQ(w[4], header_bytes(0x1C, serial, static_cast<std::uint16_t>(start + 2), 0x5A, 0x21, 0));
    EXPECT_EQ(w[5], header_bytes(0x26, serial, 0x7004, 0x5A, 0x21, 0));  // payload_length 0, not 2
}

TEST_F(firmware_test, a_file_that_cannot_be_opened_sends_nothing) {
    script(firmware_sensor(0));
    const std::uint16_t start = counter();
    const std::string missing = dir.path("missing.bin");
    for (const char* path : {missing.c_str(), static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(session->write_firmware_image(path));
        EXPECT_STREQ(session->error_msg(), "Failed to open specified file");
    }
    EXPECT_TRUE(wire().empty());
    EXPECT_EQ(counter(), start);
}

TEST_F(firmware_test, an_empty_file_sends_no_chunk_and_only_the_checksum_request) {
    const std::string path = dir.write("empty.bin", {});
    script(firmware_sensor(0));
    const std::uint16_t start = counter();
    ASSERT_TRUE(session->write_firmware_image(path.c_str())) << session->error_msg();
    auto w = wire(1);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0], header_bytes(0x1C, serial, start, 0x5A, 0x21, 0));
    EXPECT_EQ(counter(), static_cast<std::uint16_t>(start + 1));
}

TEST_F(firmware_test, files_of_4_gib_or_more_are_refused_before_anything_is_sent) {
    const std::uint16_t start = counter();
    for (std::uint64_t size : {0x100000000ull, 0x100000005ull}) {
        const std::string path = dir.sparse("huge.bin", size);
        EXPECT_FALSE(session->write_firmware_image(path.c_str())) << size;
        EXPECT_STREQ(session->error_msg(), "No error");
        std::filesystem::remove(path);
    }
    EXPECT_TRUE(wire().empty());
    EXPECT_EQ(counter(), start);

    // One byte less is a valid image: its first chunk goes out.
    reconnect_with_timeout(2);
    const std::string largest = dir.sparse("largest.bin", 0xFFFFFFFFull);
    EXPECT_FALSE(session->write_firmware_image(largest.c_str()));  // the sensor stays silent
    auto w = wire(1);
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w[0].size(), 18 + chunk_max);
    EXPECT_EQ(chunk_offset(w[0]), 0u);
}

TEST_F(firmware_test, progress_reports_answered_bytes_rising_to_the_file_size) {
    const bytes file = firmware_pattern(3000);
    const std::string path = dir.write("image.bin", file);
    script(firmware_sensor(reference_checksum(file)));
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    ASSERT_TRUE(session->write_firmware_image(
        path.c_str(), [&](std::uint64_t done, std::uint64_t total) { progress.emplace_back(done, total); }));
    using step = std::pair<std::uint64_t, std::uint64_t>;
    EXPECT_EQ(progress, (std::vector<step>{{1276, 3000}, {2552, 3000}, {3000, 3000}}));

    // An empty callback object is the same as none.
    EXPECT_TRUE(session->write_firmware_image(path.c_str(), vorex::progress_callback{}));
}

TEST_F(firmware_test, an_unconnected_session_reports_the_failed_send_as_its_table_says) {
    vorex_device_info_t info = session->info();
    vorex idle(&info, 9);
    const std::string image = dir.write("image.bin", firmware_pattern(10));
    EXPECT_FALSE(idle.write_firmware_image(image.c_str()));  // the chunk is not sent whole
    EXPECT_STREQ(idle.error_msg(), "Socket operation timeout");

    const std::string empty = dir.write("empty.bin", {});
    EXPECT_FALSE(idle.write_firmware_image(empty.c_str()));  // the checksum request is not sent whole
    EXPECT_STREQ(idle.error_msg(), "No error");

    EXPECT_FALSE(idle.flush_firmware_image());
    EXPECT_STREQ(idle.error_msg(), "No error");
    EXPECT_EQ(vorex_session_access::counter(idle), 9);
    EXPECT_TRUE(wire().empty());
}

// ---- Commit ----

std::vector<bytes> commit_answers(const bytes& req, bool reply, bool stray, bool completion) {
    std::vector<bytes> out;
    if (!is_request(req) || !is_command(req, 0x5A, 0x22)) return out;
    if (reply) out.push_back(reply_for(req, 0x1C));  // asks for an acknowledgement it never gets
    if (stray) out.push_back(reply_for(req, 0x1C));
    if (completion) out.push_back(reply_for(req, 0x1C, {0, 0, 0, 0}));
    return out;
}

TEST_F(firmware_test, commit_passes_over_a_repeated_reply_before_the_completion) {
    script([](const bytes& req, std::size_t) { return commit_answers(req, true, true, true); });
    const std::uint16_t start = counter();
    ASSERT_TRUE(session->flush_firmware_image());
    EXPECT_STREQ(session->error_msg(), "No error");
    auto w = wire(1);
    ASSERT_EQ(w.size(), 1u);  // no acknowledgement, whatever the flags ask
    EXPECT_EQ(w[0], header_bytes(0x1C, serial, start, 0x5A, 0x22, 0));
    EXPECT_EQ(counter(), start);
}

TEST_F(firmware_test, commit_and_the_next_request_carry_the_same_counter) {
    script([](const bytes& req, std::size_t) { return commit_answers(req, true, false, true); });
    ASSERT_TRUE(session->flush_firmware_image());
    EXPECT_EQ(session->read_log_record_count(), 0u);  // nobody answers it
    auto w = wire(2);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_TRUE(is_command(w[1], 0x5E, 0x18));
    EXPECT_EQ(counter_of(w[0]), counter_of(w[1]));
}

TEST_F(firmware_test, commit_without_reply_gives_up_after_twenty_empty_receives_and_four_resends) {
    const std::uint16_t start = counter();
    EXPECT_FALSE(session->flush_firmware_image());
    EXPECT_STREQ(session->error_msg(), "No error");
    auto w = wire(5);
    ASSERT_EQ(w.size(), 5u);
    for (const bytes& d : w) EXPECT_EQ(d, header_bytes(0x1C, serial, start, 0x5A, 0x22, 0));
    EXPECT_EQ(counter(), start);
}

TEST_F(firmware_test, commit_accepts_a_completion_long_after_the_first_wait_would_have_ended) {
    reconnect_with_timeout(10);
    push(header_bytes(0x14, serial, 1, 0x5A, 0x22, 0));
    std::this_thread::sleep_for(20ms);
    // 60 receive timeouts later: past the first wait's 20, well within 1000.
    bytes completion = header_bytes(0x14, serial, 1, 0x5A, 0x22, 4);
    completion.resize(18);
    sensor->send(completion, host_service(), 600ms);
    EXPECT_TRUE(session->flush_firmware_image());
    EXPECT_EQ(wire(1).size(), 1u);
}

}  // namespace
}  // namespace vorex_test
