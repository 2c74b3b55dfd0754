// The commit's completion wait of a thousand empty receives: even on the
// shortest socket timeout the kernel rounds each receive up to several
// milliseconds, so this runs for seconds.
#include "maintenance_support.h"

namespace vorex_test {
namespace {

TEST_F(firmware_test, commit_without_completion_times_out_after_a_thousand_empty_receives_without_resend) {
    reconnect_with_timeout(2);
    // The reply waits in the socket before the request goes out, so the
    // short timeout cannot make it miss the first wait.
    push(header_bytes(0x14, serial, 1, 0x5A, 0x22, 0));
    std::this_thread::sleep_for(20ms);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(session->flush_firmware_image());
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_STREQ(session->error_msg(), "Socket operation timeout");
    EXPECT_EQ(wire(1).size(), 1u);
    EXPECT_GE(took, 1000 * 2ms);  // a thousand receive timeouts at the very least
}

}  // namespace
}  // namespace vorex_test
