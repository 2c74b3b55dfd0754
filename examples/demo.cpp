// A tour of the library against whatever sensors answer: find them, show
// what each reports, connect, read its parameters, receive profiles and its
// image, upload and commit a firmware file, and read its log.
// Usage: vorex-demo [FIRMWARE_FILE]
#include <vorex.h>

#include <cstdio>
#include <vector>

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

bool report(bool ok, const char* what, vorex& sensor) {
    if (!ok) std::printf("  %s failed: %s\n", what, sensor.error_msg());
    return ok;
}

bool show_parameters(vorex& sensor) {
    vorex_user_params_t block;
    if (!report(sensor.read_params(&block), "read_params", sensor)) return false;
    unsigned sum = 0;
    for (std::uint8_t b : block.general.bytes) sum += b;
    std::printf("  parameters: 1400-byte block read, general group byte sum %u\n", sum);
    vorex_laser_params_t laser;
    if (!report(sensor.read_laser_params(&laser), "read_laser_params", sensor)) return false;
    std::printf("  laser group: %zu bytes, first %02x %02x %02x %02x\n", sizeof laser.bytes, laser.bytes[0],
                laser.bytes[1], laser.bytes[2], laser.bytes[3]);
    return true;
}

bool show_profiles(vorex& sensor) {
    vorex_profile profile;  // reused: its arrays keep their storage
    int received = 0;
    std::size_t points = 0;
    for (int attempt = 0; attempt < 50 && received < 20; ++attempt) {
        if (!sensor.get_result(profile)) continue;
        ++received;
        points += profile.points.size();
    }
    if (received == 0) return report(false, "get_result", sensor);
    std::printf("  profiles: %d received, type %u, %zu points on average\n", received,
                static_cast<unsigned>(profile.header.data_type), points / static_cast<std::size_t>(received));
    return true;
}

bool show_image(vorex& sensor) {
    std::vector<unsigned char> image(316224);
    if (!report(sensor.get_image(image.data()), "get_image", sensor)) return false;
    unsigned long sum = 0;
    for (unsigned char p : image) sum += p;
    std::printf("  image: %zu bytes (648 x 488), mean grey %lu\n", image.size(), static_cast<unsigned long>(sum / image.size()));
    return true;
}

bool update_firmware(vorex& sensor, const char* path) {
    if (!report(sensor.write_firmware_image(path), "write_firmware_image", sensor)) return false;
    std::printf("  firmware: %s uploaded, checksum verified\n", path);
    if (!report(sensor.flush_firmware_image(), "flush_firmware_image", sensor)) return false;
    std::printf("  firmware: committed\n");
    return true;
}

bool show_log(vorex& sensor) {
    const unsigned count = sensor.read_log_record_count();
    std::printf("  log: %u record(s)\n", count);
    // The sensor answers with every record from the index on, at most 240.
    const unsigned first = count > 5 ? count - 5 : 0;
    std::vector<vorex_log_record_t> records(count - first);
    if (records.empty()) return true;
    if (!report(sensor.read_log(first, records.data(), static_cast<int>(records.size())), "read_log", sensor))
        return false;
    for (const vorex_log_record_t& r : records) {
        // The simulated sensor keeps a text from byte 10; a real one has its own layout.
        std::printf("    %.*s\n", 126, reinterpret_cast<const char*>(r.bytes + 10));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* firmware = argc > 1 ? argv[1] : nullptr;
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
            if (!report(sensor->connect(), "connect", *sensor)) {
                status = 1;
                continue;
            }
            bool ok = show_parameters(*sensor);
            ok = show_profiles(*sensor) && ok;
            ok = show_image(*sensor) && ok;
            if (firmware) ok = update_firmware(*sensor, firmware) && ok;
            ok = show_log(*sensor) && ok;
            if (!ok) status = 1;
            sensor->disconnect();
            std::printf("  disconnected\n");
        }
    }  // the sessions go before cleanup
    vorex::cleanup();
    return status;
}
