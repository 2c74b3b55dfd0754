// Library lifecycle, the session object and its copies, the error text.
#include "support/test_support.h"

namespace vorex_test {
namespace {

TEST(lifecycle, version_needs_no_init) {
    EXPECT_EQ(vorex::version(), 0x13041600u);
    ASSERT_TRUE(vorex::init());
    EXPECT_EQ(vorex::version(), 319034880u);
    vorex::cleanup();
    EXPECT_EQ(vorex::version(), 0x13041600u);
}

TEST(lifecycle, init_starts_with_empty_error_text_and_can_run_again_after_cleanup) {
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(vorex::init());
        EXPECT_STREQ(vorex_core::error_text(), "");
        vorex::cleanup();
    }
}

// Operations outside init/cleanup fail cleanly instead of touching buffers
// that do not exist.
TEST(lifecycle, operations_before_init_and_after_cleanup_fail_without_crashing) {
    auto exercise = [] {
        vorex_device_info_t info = make_record(1, loopback, mask_8, 1, 1);
        vorex s(&info, 3);
        EXPECT_STREQ(s.error_msg(), "");
        EXPECT_FALSE(s.flush_params());
        EXPECT_FALSE(s.read_params(nullptr));
        EXPECT_FALSE(s.read_general_params(nullptr));
        vorex_profile p;
        EXPECT_FALSE(s.get_result(p));
        unsigned char image[16];
        EXPECT_FALSE(s.get_image(image));
        EXPECT_FALSE(s.write_firmware_image("/nonexistent"));
        EXPECT_FALSE(s.flush_firmware_image());
        vorex_log_record_t r;
        EXPECT_FALSE(s.read_log(0, &r, 1));
        EXPECT_EQ(s.read_log_record_count(), 0u);
        EXPECT_FALSE(s.reset_params());
        bool done = false;
        EXPECT_TRUE(vorex::search(&done).empty());
        EXPECT_TRUE(done);
        EXPECT_EQ(vorex_session_access::counter(s), 3);
    };
    exercise();
    ASSERT_TRUE(vorex::init());
    vorex::cleanup();
    exercise();
}

class session_test : public library_test {};

TEST_F(session_test, error_text_is_one_process_wide_buffer) {
    vorex_device_info_t info = make_record(1, loopback, mask_8, 9, free_port());
    vorex a(&info, 0), b(&info, 0);
    EXPECT_EQ(a.error_msg(), b.error_msg());
    EXPECT_FALSE(a.reset_params());
    EXPECT_STREQ(b.error_msg(), "Not implemented");
    b.disconnect();
    EXPECT_STREQ(a.error_msg(), "No error");
}

TEST_F(session_test, construction_copies_the_record_and_resets_the_error_text) {
    vorex_device_info_t info = make_record(77, loopback, mask_8, 9, 10);
    info.opaque_0[0] = 0xA5;
    info.opaque_202[321] = 0x5A;
    EXPECT_FALSE(vorex(&info, 0).reset_params());
    vorex s(&info, 65535);
    EXPECT_STREQ(s.error_msg(), "No error");
    EXPECT_EQ(std::memcmp(&s.info(), &info, sizeof info), 0);
    EXPECT_EQ(vorex_session_access::counter(s), 65535);
    EXPECT_EQ(vorex_session_access::service_socket(s), vorex_net::invalid_handle);
    EXPECT_EQ(vorex_session_access::data_socket(s), vorex_net::invalid_handle);
}

// A copy owns duplicates of the sockets: destroying one object leaves the
// other working on the same sensor, and nothing leaks.
class copy_test : public scripted_test {};

TEST_F(copy_test, assignment_gives_each_object_its_own_sockets) {
    script([](const bytes& req, std::size_t) -> std::vector<bytes> { return {reply_for(req, 0x14)}; });
    const int baseline = open_descriptors();
    vorex_device_info_t other_info = make_record(5, loopback, mask_8, 1, free_port());
    auto copy = std::make_unique<vorex>(&other_info, 0);
    ASSERT_TRUE(copy->connect());  // holds two sockets of its own, which assignment must close
    EXPECT_EQ(open_descriptors(), baseline + 2);
    *copy = *session;
    EXPECT_EQ(open_descriptors(), baseline + 2);  // old pair closed, duplicates taken
    EXPECT_EQ(std::memcmp(&copy->info(), &session->info(), sizeof(vorex_device_info_t)), 0);
    EXPECT_EQ(vorex_session_access::counter(*copy), counter());

    session.reset();  // the original closes its handles
    EXPECT_TRUE(copy->flush_params());  // the copy still reaches the same sensor
    copy.reset();
    EXPECT_EQ(open_descriptors(), baseline - 2);
}

TEST_F(copy_test, self_assignment_and_copy_construction_keep_sockets_open) {
    script([](const bytes& req, std::size_t) -> std::vector<bytes> { return {reply_for(req, 0x14)}; });
    const int baseline = open_descriptors();
    vorex& self = *session;
    *session = self;
    EXPECT_EQ(open_descriptors(), baseline);
    EXPECT_TRUE(session->flush_params());
    {
        vorex copy(*session);
        EXPECT_EQ(open_descriptors(), baseline + 2);
        EXPECT_TRUE(copy.flush_params());
    }
    EXPECT_EQ(open_descriptors(), baseline);
    EXPECT_TRUE(session->flush_params());
}

}  // namespace
}  // namespace vorex_test
