#include "support/test_support.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace vorex_test {

std::uint32_t ipv4(const char* dotted) {
    std::uint32_t a = 0;
    EXPECT_TRUE(vorex_core::parse_dotted(dotted, &a)) << dotted;
    return a;
}

library_test::library_test() : descriptors_before_(open_descriptors()) {
    vorex_test_seam::set_receive_timeout_ms(test_timeout_ms);
    EXPECT_TRUE(vorex::init());
}

library_test::~library_test() {
    vorex::cleanup();
    expect_descriptors_as_before(descriptors_before_);
}

std::uint16_t free_port() {
    vorex_net::handle h = vorex_net::open_udp();
    vorex_net::endpoint e{};
    vorex_net::bind(h, {loopback, 0});
    vorex_net::local_endpoint(h, &e);
    vorex_net::close(h);
    return e.port;
}

vorex_device_info_t make_record(std::uint32_t serial, std::uint32_t ip, std::uint32_t mask, std::uint16_t service_port,
                                std::uint16_t data_port) {
    vorex_sim::device_config c;
    c.serial = serial;
    c.ip_address = ip;
    c.subnet_mask = mask;
    c.service_port = service_port;
    c.data_port = data_port;
    return vorex_sim::device_model(c).record();
}

scripted_test::scripted_test() {
    sensor = std::make_unique<vorex_sim::udp_endpoint>(vorex_net::endpoint{loopback, 0});
    vorex_device_info_t info = make_record(serial, loopback, mask_8, sensor->local().port, free_port());
    session = std::make_unique<vorex>(&info, 100);
    EXPECT_TRUE(session->connect()) << session->error_msg();
}

scripted_test::~scripted_test() {
    session.reset();
    sensor.reset();
}

void scripted_test::script(std::function<std::vector<bytes>(const bytes&, std::size_t)> answer) {
    auto count = std::make_shared<std::size_t>(0);
    sensor->set_handler([answer, count](const vorex_sim::datagram& d, vorex_sim::udp_endpoint& ep) {
        for (const bytes& b : answer(d.data, (*count)++)) ep.send(b, d.from);
    });
}

vorex_net::endpoint scripted_test::host_service() const {
    vorex_net::endpoint e{};
    vorex_net::local_endpoint(vorex_session_access::service_socket(*session), &e);
    if (e.address == 0) e.address = loopback;
    return e;
}

void scripted_test::push(const bytes& data) { sensor->send(data, host_service()); }

std::vector<bytes> scripted_test::wire(std::size_t expected) const {
    // The library's sends are done when its call returns; only the sensor's
    // thread may lag behind on a loaded machine, so wait for it generously.
    sensor->wait_for(expected, 10s);
    std::this_thread::sleep_for(std::chrono::milliseconds(test_timeout_ms / 2));
    std::vector<bytes> out;
    for (const auto& d : sensor->wire()) out.push_back(d.data);
    return out;
}

sim_test::sim_test(vorex_sim::device_config config) {
    config.ip_address = loopback;
    config.subnet_mask = mask_8;
    config.service_port = 0;
    if (config.data_port == 0) config.data_port = free_port();
    sim = std::make_unique<vorex_sim::sensor_sim>(std::vector<vorex_sim::device_config>{config});
    vorex_device_info_t info = sim->record(0);
    session = std::make_unique<vorex>(&info, 7);
    EXPECT_TRUE(session->connect()) << session->error_msg();
}

sim_test::~sim_test() {
    session.reset();
    sim.reset();
}

std::string make_temp_directory(const std::string& prefix) {
    // create_directory is false for a name that exists: the first new name
    // is ours alone, as with mkdtemp, on every platform.
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / (prefix + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) return candidate.string();
    }
    return {};
}

bytes header_bytes(std::uint8_t flags, std::uint32_t serial_value, std::uint16_t counter_value,
                   std::uint8_t command_class, std::uint8_t command_code, std::uint16_t payload_length) {
    vorex_wire::header h;
    h.flags = flags;
    h.serial = serial_value;
    h.counter = counter_value;
    h.command_class = command_class;
    h.command_code = command_code;
    h.payload_length = payload_length;
    bytes out(vorex_wire::header_size);
    vorex_wire::encode(h, out.data());
    return out;
}

bytes reply_for(const bytes& request, std::uint8_t flags, const bytes& payload) {
    vorex_wire::header h = vorex_wire::decode(request.data());
    bytes out = header_bytes(flags, h.serial, h.counter, h.command_class, h.command_code,
                             static_cast<std::uint16_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

void expect_descriptors_as_before(int before) {
    EXPECT_EQ(open_descriptors(), before) << "descriptors opened during the test are still open";
}

const std::vector<std::string>& two_veth_adapters() {
    static const std::vector<std::string> setup = {
        "ip link set lo up",
        "ip link add v0 type veth peer name v1",
        "ip addr add 198.18.0.1/24 brd + dev v0",
        "ip addr add 198.18.1.1/24 brd + dev v1",
        "ip link set v0 up",
        "ip link set v1 up",
    };
    return setup;
}

bool wait_for_adapters(std::size_t count) {
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (vorex_net::up_ipv4_addresses().size() < count) {
        if (std::chrono::steady_clock::now() > give_up) {
            ADD_FAILURE() << "fewer than " << count << " addresses came up";
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

}  // namespace vorex_test
