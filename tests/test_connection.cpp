// Connection: local address selection, the order of connect's steps and
// its messages, the data port reuse retry and the three session states.
#include "core/connection.h"
#include "support/test_support.h"

namespace vorex_test {
namespace {

using vorex_core::select_local_address;

vorex_net::endpoint bound(vorex_net::handle h) {
    vorex_net::endpoint e{};
    EXPECT_TRUE(vorex_net::local_endpoint(h, &e));
    return e;
}

// Host addresses 10.0.0.5 and 192.168.1.7 exist only inside a private
// namespace the test makes; nothing is sent anywhere.
class address_selection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(enter_private_network({"ip link add v0 type veth peer name v1",
                                           "ip addr add 10.0.0.5/24 brd + dev v0",
                                           "ip addr add 192.168.1.7/24 brd + dev v1", "ip link set v0 up",
                                           "ip link set v1 up"}));
        ASSERT_TRUE(wait_for_adapters(2));
        vorex_test_seam::set_receive_timeout_ms(test_timeout_ms);
        ASSERT_TRUE(vorex::init());
        ASSERT_EQ(vorex_core::adapter_count(), 2);
    }
    void TearDown() override {
        vorex::cleanup();
        expect_descriptors_as_before(descriptors_before);
    }
    const int descriptors_before = open_descriptors();
};

TEST_F(address_selection, picks_the_host_address_in_the_sensors_subnet) {
    struct {
        const char* peer;
        const char* mask;
        const char* expected;
    } cases[] = {
        {"192.168.1.50", "255.255.255.0", "192.168.1.7"},
        {"10.0.0.200", "255.255.255.0", "10.0.0.5"},
        {"172.16.0.9", "255.255.255.0", "0.0.0.0"},  // outside both subnets
        {"0.0.0.0", "0.0.0.0", "0.0.0.0"},           // no peer: wildcard without looking
        {"172.16.0.9", "0.0.0.0", vorex_core::adapter_entry(0)},  // mask 0: first listed
    };
    for (auto c : cases) EXPECT_EQ(select_local_address(ipv4(c.peer), ipv4(c.mask)), ipv4(c.expected)) << c.peer;
}

TEST_F(address_selection, connect_binds_both_sockets_to_the_selected_address) {
    std::uint16_t data_port = 50123;
    struct {
        const char* sensor;
        const char* expected;
    } cases[] = {{"192.168.1.50", "192.168.1.7"}, {"172.16.0.9", "0.0.0.0"}};
    for (auto c : cases) {
        vorex_device_info_t info = make_record(1, ipv4(c.sensor), ipv4("255.255.255.0"), 9, data_port);
        vorex s(&info, 0);
        ASSERT_TRUE(s.connect()) << s.error_msg();
        EXPECT_EQ(bound(vorex_session_access::service_socket(s)).address, ipv4(c.expected));
        EXPECT_NE(bound(vorex_session_access::service_socket(s)).port, 0);
        vorex_net::endpoint d = bound(vorex_session_access::data_socket(s));
        EXPECT_EQ(d.address, ipv4(c.expected));
        EXPECT_EQ(d.port, data_port);
    }
}

TEST_F(address_selection, address_gone_after_init_fails_the_service_bind) {
    ASSERT_TRUE(network_command("ip addr del 192.168.1.7/24 dev v1"));
    vorex_device_info_t info = make_record(1, ipv4("192.168.1.50"), ipv4("255.255.255.0"), 9, 50124);
    vorex s(&info, 0);
    const int baseline = open_descriptors();
    EXPECT_FALSE(s.connect());
    EXPECT_STREQ(s.error_msg(), "Failed to bind service socket");
    EXPECT_EQ(vorex_session_access::service_socket(s), vorex_net::invalid_handle);
    EXPECT_EQ(vorex_session_access::data_socket(s), vorex_net::invalid_handle);
    EXPECT_EQ(open_descriptors(), baseline);
}

class connection_test : public library_test {
protected:
    vorex_device_info_t info = make_record(1, loopback, mask_8, 9, free_port());
};

TEST_F(connection_test, data_port_shared_with_a_reusing_socket_connects_through_the_retry) {
    vorex_net::handle other = vorex_net::open_udp();
    ASSERT_TRUE(vorex_net::set_reuse_address(other));
    ASSERT_TRUE(vorex_net::bind(other, {loopback, info.data_port}));
    vorex s(&info, 0);
    EXPECT_TRUE(s.connect()) << s.error_msg();
    EXPECT_STREQ(s.error_msg(), "No error");
    EXPECT_EQ(bound(vorex_session_access::data_socket(s)).port, info.data_port);
    vorex_net::close(other);
}

TEST_F(connection_test, data_port_held_exclusively_leaves_the_session_half_connected) {
    vorex_net::handle other = vorex_net::open_udp();
    ASSERT_TRUE(vorex_net::bind(other, {loopback, info.data_port}));  // no reuse: sharing refused
    const int baseline = open_descriptors();
    vorex s(&info, 0);
    EXPECT_FALSE(s.connect());
    EXPECT_STREQ(s.error_msg(), "Failed to bind data socket");
    EXPECT_NE(vorex_session_access::service_socket(s), vorex_net::invalid_handle);
    EXPECT_EQ(vorex_session_access::data_socket(s), vorex_net::invalid_handle);
    EXPECT_EQ(open_descriptors(), baseline + 1);
    s.disconnect();
    EXPECT_EQ(vorex_session_access::service_socket(s), vorex_net::invalid_handle);
    EXPECT_EQ(open_descriptors(), baseline);
    vorex_net::close(other);
}

TEST_F(connection_test, reconnecting_and_repeated_disconnects_leak_nothing) {
    const int baseline = open_descriptors();
    vorex s(&info, 0);
    ASSERT_TRUE(s.connect());
    ASSERT_TRUE(s.connect());  // the first pair is closed, not orphaned
    EXPECT_EQ(open_descriptors(), baseline + 2);
    s.disconnect();
    EXPECT_FALSE(s.reset_params());
    s.disconnect();  // a second disconnect only resets the text
    EXPECT_STREQ(s.error_msg(), "No error");
    EXPECT_EQ(open_descriptors(), baseline);
}

}  // namespace
}  // namespace vorex_test
