// A first look at the library: find every sensor, show what it reports,
// connect, and disconnect again.
#include <vorex.h>

#include <cstdio>

namespace {

void print_address(const char* label, std::uint32_t stored) {
    // Addresses are kept in network byte order: first octet first in memory.
    const auto* b = reinterpret_cast<const unsigned char*>(&stored);
    std::printf("%s%u.%u.%u.%u", label, b[0], b[1], b[2], b[3]);
}

void print_sensor(const vorex& sensor) {
    const vorex_device_info_t& info = sensor.info();
    std::printf("  serial %u", static_cast<unsigned>(info.serial));
    print_address("  ip ", info.ip_address);
    print_address("/", info.subnet_mask);
    std::printf("  mac %02x:%02x:%02x:%02x:%02x:%02x", info.mac_address[0], info.mac_address[1],
                info.mac_address[2], info.mac_address[3], info.mac_address[4], info.mac_address[5]);
    std::printf("  service port %u  data port %u\n", static_cast<unsigned>(info.service_port),
                static_cast<unsigned>(info.data_port));
}

}  // namespace

int main() {
    std::printf("vorex library version 0x%08x\n", static_cast<unsigned>(vorex::version()));
    if (!vorex::init()) {
        std::fprintf(stderr, "the socket layer did not start\n");
        return 1;
    }
    int status = 0;
    {
        auto sensors = vorex::search();
        std::printf("found %zu sensor(s)\n", sensors.size());
        if (sensors.empty()) status = 1;
        for (const auto& sensor : sensors) {
            print_sensor(*sensor);
            if (!sensor->connect()) {
                std::printf("  connect failed: %s\n", sensor->error_msg());
                status = 1;
                continue;
            }
            std::printf("  connected\n");
            sensor->disconnect();
            std::printf("  disconnected\n");
        }
    }  // the sessions go before cleanup
    vorex::cleanup();
    return status;
}
