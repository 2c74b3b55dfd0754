// connect gives the data socket, and only it, the large receive buffer
// that rides out a stalled receiving thread.
#include <unistd.h>

#include <fstream>

#include "support/test_support.h"

namespace vorex_test {
namespace {

constexpr int asked = 4 * 1024 * 1024;

long rmem_max() {
    std::ifstream in("/proc/sys/net/core/rmem_max");
    long v = -1;
    in >> v;
    return v;
}

class receive_buffer_test : public scripted_test {};

TEST_F(receive_buffer_test, data_socket_gets_the_large_buffer_and_the_service_socket_keeps_its_own) {
    const int data = vorex_net::receive_buffer_size(vorex_session_access::data_socket(*session));
    const int service = vorex_net::receive_buffer_size(vorex_session_access::service_socket(*session));
    ASSERT_GT(service, 0);
    EXPECT_GT(data, service);
    // Linux reports twice what it grants. Root passes over the limit; anyone
    // else gets at most net.core.rmem_max.
    const long limit = rmem_max();
    if (geteuid() == 0 || limit >= asked) EXPECT_EQ(data, 2 * asked);
    else EXPECT_EQ(data, 2 * limit);

    // A reconnect asks again on the new data socket.
    session->disconnect();
    ASSERT_TRUE(session->connect());
    EXPECT_EQ(vorex_net::receive_buffer_size(vorex_session_access::data_socket(*session)), data);
}

}  // namespace
}  // namespace vorex_test
