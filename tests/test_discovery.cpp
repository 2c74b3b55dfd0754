// Discovery, each case inside a private network namespace of its own with
// two veth "adapters": broadcasts never leave it.
#include "support/test_support.h"

namespace vorex_test {
namespace {

using vorex_sim::datagram;
using vorex_sim::udp_endpoint;

constexpr std::uint32_t any_address = 0;

const std::vector<std::string>& two_adapters = two_veth_adapters();

bytes discovery_request() { return header_bytes(0x14, 0xFFFFFFFF, 0, 0x5E, 0x00, 0); }

struct fake_sensor {
    std::uint32_t serial;
    std::uint8_t mac_last;
    std::uint16_t counter = 41;
    std::uint8_t flags = 0x1C;
};

bytes discovery_reply(const fake_sensor& s) {
    bytes out = header_bytes(s.flags, s.serial, s.counter, 0x5E, 0x00, 524);
    vorex_device_info_t info = make_record(s.serial, ipv4("198.18.0.50"), ipv4("255.255.255.0"), 50030, 50020);
    info.mac_address[5] = s.mac_last;
    const auto* r = reinterpret_cast<const std::uint8_t*>(&info);
    out.insert(out.end(), r, r + sizeof info);
    return out;
}

class discovery_test : public ::testing::Test {
protected:
    void start(const std::vector<std::string>& setup, std::size_t adapters_up) {
        ASSERT_TRUE(enter_private_network(setup));
        ASSERT_TRUE(wait_for_adapters(adapters_up));
        vorex_test_seam::set_receive_timeout_ms(test_timeout_ms);
        ASSERT_TRUE(vorex::init());
        initialised = true;
        sensors = std::make_unique<udp_endpoint>(vorex_net::endpoint{any_address, vorex_wire::discovery_port},
                                                 nullptr, true);
    }
    void TearDown() override {
        sensors.reset();
        if (initialised) vorex::cleanup();
        expect_descriptors_as_before(descriptors_before);
    }
    // Answers each broadcast with what `answer` returns for the adapter it
    // came from.
    void answer(std::function<std::vector<bytes>(std::uint32_t adapter)> replies) {
        sensors->set_handler([replies](const datagram& d, udp_endpoint& ep) {
            if (d.data != discovery_request()) return;  // acknowledgements are only recorded
            for (const bytes& b : replies(d.from.address)) ep.send(b, d.from);
        });
    }
    std::vector<std::uint32_t> adapters() const {
        std::vector<std::uint32_t> out;
        for (int i = 0; i < vorex_core::adapter_count(); ++i) out.push_back(ipv4(vorex_core::adapter_entry(i)));
        return out;
    }
    // What the sensors received, once at least `expected` datagrams came
    // (the sensors' thread may lag behind on a loaded machine) and a moment
    // more for any extra to show up.
    std::vector<datagram> received(std::size_t expected = 0) const {
        sensors->wait_for(expected, 10s);
        std::this_thread::sleep_for(std::chrono::milliseconds(test_timeout_ms));
        return sensors->wire();
    }
    static std::uint32_t serial_of(const std::shared_ptr<vorex>& s) { return s->info().serial; }

    const int descriptors_before = open_descriptors();
    bool initialised = false;
    std::unique_ptr<udp_endpoint> sensors;
};

TEST_F(discovery_test, results_follow_the_order_replies_arrive_in) {
    start(two_adapters, 3);
    answer([](std::uint32_t adapter) -> std::vector<bytes> {
        if (adapter != ipv4("198.18.0.1")) return {};
        return {discovery_reply({0xB, 0xB}), discovery_reply({0xA, 0xA})};
    });
    auto found = vorex::search();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(serial_of(found[0]), 0xBu);
    EXPECT_EQ(serial_of(found[1]), 0xAu);
}

TEST_F(discovery_test, results_follow_adapter_order_first) {
    start(two_adapters, 3);
    auto list = adapters();
    ASSERT_EQ(list.size(), 3u);  // lo, then the two veth ends in interface order
    EXPECT_EQ(list[0], ipv4("127.0.0.1"));
    answer([](std::uint32_t adapter) -> std::vector<bytes> {
        const bool first = adapter == ipv4("198.18.0.1");
        return {discovery_reply({first ? 1u : 2u, static_cast<std::uint8_t>(first ? 1 : 2)})};
    });
    auto found = vorex::search();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(serial_of(found[0]), list[1] == ipv4("198.18.0.1") ? 1u : 2u);
    EXPECT_EQ(serial_of(found[1]), list[2] == ipv4("198.18.0.1") ? 1u : 2u);
}

TEST_F(discovery_test, one_sensor_on_two_adapters_gives_one_session_and_both_replies_are_acknowledged) {
    start(two_adapters, 3);
    auto list = adapters();
    answer([&](std::uint32_t adapter) -> std::vector<bytes> {
        fake_sensor s{0x77, 0x07};
        s.counter = adapter == list[1] ? 10 : 20;  // tells which adapter's reply made the session
        return {discovery_reply(s)};
    });
    auto found = vorex::search();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(vorex_session_access::counter(*found[0]), 11);  // from the earlier adapter

    auto w = received(4);
    ASSERT_EQ(w.size(), 4u);  // broadcast, ack, broadcast, ack
    for (int i : {0, 2}) EXPECT_EQ(w[i].data, discovery_request());  // unchanged after an ack
    EXPECT_EQ(w[1].data, header_bytes(0x24, 0x77, 10, 0x5E, 0x00, 0));
    EXPECT_EQ(w[3].data, header_bytes(0x24, 0x77, 20, 0x5E, 0x00, 0));
    EXPECT_EQ(w[0].from.address, list[1]);
    EXPECT_EQ(w[2].from.address, list[2]);
}

TEST_F(discovery_test, duplicate_on_one_adapter_is_acknowledged_but_ignored) {
    start(two_adapters, 3);
    answer([](std::uint32_t adapter) -> std::vector<bytes> {
        if (adapter != ipv4("198.18.0.1")) return {};
        fake_sensor first{5, 5}, again{5, 5};
        again.counter = 99;
        return {discovery_reply(first), discovery_reply(again)};
    });
    auto found = vorex::search();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(vorex_session_access::counter(*found[0]), 42);
    std::size_t acks = 0;
    for (const auto& d : received(4)) acks += d.data.size() == 14 && d.data[0] == 0x24;
    EXPECT_EQ(acks, 2u);
}

TEST_F(discovery_test, same_serial_different_mac_gives_two_sessions_and_no_ack_unless_asked) {
    start(two_adapters, 3);
    answer([](std::uint32_t adapter) -> std::vector<bytes> {
        if (adapter != ipv4("198.18.0.1")) return {};
        fake_sensor a{9, 1}, b{9, 2};
        a.flags = b.flags = 0x14;  // no acknowledgement wanted
        return {discovery_reply(a), discovery_reply(b)};
    });
    EXPECT_EQ(vorex::search().size(), 2u);
    for (const auto& d : received(2)) EXPECT_EQ(d.data, discovery_request());
}

TEST_F(discovery_test, counter_continues_the_sensors_with_wrap) {
    start(two_adapters, 3);
    answer([](std::uint32_t adapter) -> std::vector<bytes> {
        if (adapter != ipv4("198.18.0.1")) return {};
        fake_sensor a{1, 1}, b{2, 2};
        a.counter = 41;
        b.counter = 65535;
        return {discovery_reply(a), discovery_reply(b)};
    });
    auto found = vorex::search();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(vorex_session_access::counter(*found[0]), 42);
    EXPECT_EQ(vorex_session_access::counter(*found[1]), 0);
}

TEST_F(discovery_test, short_and_oversize_datagrams_are_passed_over_without_ending_the_reply_loop) {
    start(two_adapters, 3);
    answer([](std::uint32_t adapter) -> std::vector<bytes> {
        if (adapter != ipv4("198.18.0.1")) return {};
        bytes oversize = discovery_reply({3, 3});
        oversize.push_back(0);
        return {bytes(14, 0x14), discovery_reply({1, 1}), oversize, bytes(4000, 0x14), discovery_reply({2, 2})};
    });
    auto found = vorex::search();
    ASSERT_EQ(found.size(), 2u);  // the 539-byte sensor 3 is no reply
    EXPECT_EQ(serial_of(found[0]), 1u);
    EXPECT_EQ(serial_of(found[1]), 2u);
}

// A sensor whose address lies in no subnet of the host can only answer by
// broadcast, to the port the request came from.
TEST_F(discovery_test, sensor_outside_every_subnet_answering_by_broadcast_is_found_in_order) {
    start(two_adapters, 3);
    ASSERT_TRUE(network_command("ip addr add 10.77.0.50/24 brd + dev v1"));
    auto stranger = std::make_unique<udp_endpoint>(vorex_net::endpoint{ipv4("10.77.0.50"), 0}, nullptr, true);
    udp_endpoint* out = stranger.get();
    sensors->set_handler([out](const datagram& d, udp_endpoint& ep) {
        if (d.data != discovery_request() || d.from.address != ipv4("198.18.0.1")) return;
        // Each send is delivered before the next one leaves.
        ep.send(discovery_reply({0xA, 0xA}), d.from);
        out->send(discovery_reply({0xB, 0xB}), {0xFFFFFFFF, d.from.port});
        ep.send(discovery_reply({0xC, 0xC}), d.from, std::chrono::milliseconds(test_timeout_ms / 2));
    });
    auto found = vorex::search();
    sensors.reset();  // its thread, which sends through `stranger`, ends first
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(serial_of(found[0]), 0xAu);
    EXPECT_EQ(serial_of(found[1]), 0xBu);
    EXPECT_EQ(serial_of(found[2]), 0xCu);
}

TEST_F(discovery_test, only_127_0_0_1_is_skipped) {
    start({"ip link set lo up", "ip addr add 127.0.0.2/8 dev lo"}, 2);
    EXPECT_EQ(adapters(), (std::vector<std::uint32_t>{ipv4("127.0.0.1"), ipv4("127.0.0.2")}));
    answer([](std::uint32_t) -> std::vector<bytes> { return {discovery_reply({1, 1})}; });
    bool done = false;
    EXPECT_EQ(vorex::search(&done).size(), 1u);
    EXPECT_TRUE(done);
    auto w = received(2);
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w[0].from.address, ipv4("127.0.0.2"));
    for (const auto& d : w) EXPECT_NE(d.from.address, ipv4("127.0.0.1"));
}

TEST_F(discovery_test, host_with_only_127_0_0_1_sends_nothing) {
    start({"ip link set lo up"}, 1);
    answer([](std::uint32_t) -> std::vector<bytes> { return {discovery_reply({1, 1})}; });
    bool done = false;
    EXPECT_TRUE(vorex::search(&done).empty());
    EXPECT_TRUE(done);
    EXPECT_TRUE(received().empty());
}

TEST_F(discovery_test, adapters_down_or_ipv6_only_give_an_empty_list) {
    // lo stays down; v0 is up but its peer is down (no carrier); v1 is
    // down; v2/v3 are up with IPv6 addresses only.
    start({"ip link add v0 type veth peer name v1", "ip addr add 198.18.0.1/24 brd + dev v0",
           "ip addr add 198.18.1.1/24 brd + dev v1", "ip link set v0 up",
           "ip link add v2 type veth peer name v3", "ip -6 addr add fd00::2/64 dev v2",
           "ip -6 addr add fd00::3/64 dev v3", "ip link set v2 up", "ip link set v3 up"},
          0);
    EXPECT_EQ(vorex_core::adapter_count(), 0);
    bool done = false;
    EXPECT_TRUE(vorex::search(&done).empty());
    EXPECT_TRUE(done);
}

TEST_F(discovery_test, two_addresses_on_one_adapter_keep_their_order_and_more_than_64_are_capped) {
    std::vector<std::string> setup = {"ip link set lo up"};
    for (int i = 1; i <= 70; ++i) setup.push_back("ip addr add 127.1.0." + std::to_string(i) + "/8 dev lo");
    start(setup, 71);
    ASSERT_EQ(vorex_core::adapter_count(), 64);
    EXPECT_STREQ(vorex_core::adapter_entry(0), "127.0.0.1");
    EXPECT_STREQ(vorex_core::adapter_entry(1), "127.1.0.1");
    EXPECT_STREQ(vorex_core::adapter_entry(63), "127.1.0.63");
}

TEST_F(discovery_test, realistic_sensor_is_found_connected_and_answers) {
    start(two_adapters, 3);
    sensors.reset();  // the simulator takes the discovery port
    vorex_sim::device_config c;
    c.serial = 4242;
    c.ip_address = ipv4("198.18.1.1");
    c.subnet_mask = ipv4("255.255.255.0");
    c.data_port = 50020;
    vorex_sim::sensor_sim sim({c}, true);
    auto found = vorex::search();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(std::uint32_t{found[0]->info().serial}, 4242u);
    EXPECT_EQ(std::uint16_t{found[0]->info().service_port}, sim.service(0).local().port);
    ASSERT_TRUE(found[0]->connect()) << found[0]->error_msg();
    EXPECT_TRUE(found[0]->flush_params());
    found[0]->disconnect();
}

}  // namespace
}  // namespace vorex_test
