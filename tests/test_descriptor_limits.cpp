// Socket creation failures, provoked by a limit on descriptors. Windows has
// no such limit to lower, so these run on Linux only.
#include <sys/resource.h>

#include "support/test_support.h"

namespace vorex_test {
namespace {

class session_test : public library_test {};

TEST_F(session_test, failed_connect_then_disconnect_of_another_session_resets_text) {
    vorex_device_info_t info = make_record(1, loopback, mask_8, 9, free_port());
    vorex a(&info, 0), b(&info, 0);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(lowest_free_descriptor());  // no room for one more socket
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    bool connected = a.connect();
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_FALSE(connected);
    EXPECT_STREQ(a.error_msg(), "Failed to create service socket");
    b.disconnect();
    EXPECT_STREQ(a.error_msg(), "No error");
}

class connection_test : public library_test {
protected:
    vorex_device_info_t info = make_record(1, loopback, mask_8, 9, free_port());
};

TEST_F(connection_test, socket_creation_failures_report_their_messages) {
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    struct {
        int room;
        const char* message;
        bool service_open;
    } cases[] = {{0, "Failed to create service socket", false}, {1, "Failed to create data socket", true}};
    for (auto c : cases) {
        vorex s(&info, 0);
        rlimit tight = old;
        tight.rlim_cur = static_cast<rlim_t>(lowest_free_descriptor() + c.room);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
        bool connected = s.connect();
        setrlimit(RLIMIT_NOFILE, &old);
        EXPECT_FALSE(connected);
        EXPECT_STREQ(s.error_msg(), c.message);
        EXPECT_EQ(vorex_session_access::service_socket(s) != vorex_net::invalid_handle, c.service_open);
        EXPECT_EQ(vorex_session_access::data_socket(s), vorex_net::invalid_handle);
        // disconnect brings every state back to disconnected
        s.disconnect();
        EXPECT_EQ(vorex_session_access::service_socket(s), vorex_net::invalid_handle);
    }
}

}  // namespace
}  // namespace vorex_test
