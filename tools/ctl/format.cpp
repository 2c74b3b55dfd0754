#include "format.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "hexdump.h"

namespace vorexctl {

namespace {

const char hex_digits[] = "0123456789abcdef";

// The device record's fields, copied out of the packed record.
struct sensor_fields {
    std::uint32_t serial;
    std::string ip, mask, mac;
    unsigned service_port, data_port;
    std::int32_t image_packet_size;
};

sensor_fields fields_of(const vorex_device_info_t& s) {
    return {s.serial, dotted(s.ip_address), dotted(s.subnet_mask), mac_text(s.mac_address),
            s.service_port, s.data_port, s.image_packet_size};
}

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string dotted(std::uint32_t address) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&address);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

bool parse_dotted(const std::string& text, std::uint32_t* address) {
    std::uint8_t octets[4];
    const char* p = text.data();
    const char* end = p + text.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (p == end || *p != '.') return false;
            ++p;
        }
        unsigned value = 0;
        auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc() || next - p > 3 || value > 255) return false;
        octets[i] = static_cast<std::uint8_t>(value);
        p = next;
    }
    if (p != end) return false;
    std::uint32_t a;
    static_assert(sizeof a == sizeof octets, "four octets");
    std::memcpy(&a, octets, sizeof a);
    *address = a;
    return true;
}

std::string mac_text(const std::uint8_t* mac) {
    std::string out;
    for (int i = 0; i < 6; ++i) {
        if (i) out += ':';
        out += hex_digits[mac[i] >> 4];
        out += hex_digits[mac[i] & 0x0F];
    }
    return out;
}

bool parse_mac(const std::string& text, mac_address* mac) {
    if (text.size() != 17) return false;
    mac_address out;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t at = 3 * i;
        if (i > 0 && text[at - 1] != ':' && text[at - 1] != '-') return false;
        const int high = hex_digit_value(text[at]), low = hex_digit_value(text[at + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    *mac = out;
    return true;
}

std::string sensor_table(const std::vector<vorex_device_info_t>& sensors) {
    const std::size_t widths[] = {11, 16, 16, 18, 8, 6, 6};
    const char* heading[] = {"SERIAL", "IP", "MASK", "MAC", "SERVICE", "DATA", "IMAGE-PACKET"};
    std::string out;
    for (std::size_t i = 0; i < 7; ++i) out += i < 6 ? padded(heading[i], widths[i]) : heading[i];
    out += '\n';
    for (const vorex_device_info_t& s : sensors) {
        const sensor_fields f = fields_of(s);
        out += padded(std::to_string(f.serial), widths[0]) + padded(f.ip, widths[1]) + padded(f.mask, widths[2]) +
               padded(f.mac, widths[3]) + padded(std::to_string(f.service_port), widths[4]) +
               padded(std::to_string(f.data_port), widths[5]) + std::to_string(f.image_packet_size) + '\n';
    }
    return out;
}

std::string sensor_json(const vorex_device_info_t& sensor) {
    const sensor_fields f = fields_of(sensor);
    return "{\"serial\":" + std::to_string(f.serial) + ",\"ip\":\"" + f.ip + "\",\"mask\":\"" + f.mask +
           "\",\"mac\":\"" + f.mac + "\",\"service_port\":" + std::to_string(f.service_port) +
           ",\"data_port\":" + std::to_string(f.data_port) +
           ",\"image_packet_size\":" + std::to_string(f.image_packet_size) + "}";
}

std::string sensors_json(const std::vector<vorex_device_info_t>& sensors) {
    std::string out = "[";
    for (std::size_t i = 0; i < sensors.size(); ++i) out += (i ? "," : "") + sensor_json(sensors[i]);
    return out + "]\n";
}

std::string number_text(double value) {
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string json_number(double value) { return std::isfinite(value) ? number_text(value) : "null"; }

std::string profile_csv_heading() { return "profile,x,z\n"; }

std::string profile_csv(std::uint64_t number, const vorex_profile& profile) {
    const std::string prefix = std::to_string(number) + ",";
    std::string out;
    out.reserve(profile.points.size() * 24);
    for (const vorex_point_t& p : profile.points) out += prefix + number_text(p.x) + "," + number_text(p.z) + "\n";
    return out;
}

std::string profile_json(std::uint64_t number, const vorex_profile& profile) {
    std::string out = "{\"profile\":" + std::to_string(number) +
                      ",\"data_type\":" + std::to_string(profile.header.data_type) +
                      ",\"count\":" + std::to_string(profile.points.size()) + ",\"points\":[";
    out.reserve(out.size() + profile.points.size() * 24);
    bool first = true;
    for (const vorex_point_t& p : profile.points) {
        out += first ? "[" : ",[";
        out += json_number(p.x) + "," + json_number(p.z) + "]";
        first = false;
    }
    return out + "]}\n";
}

std::string log_line(std::uint64_t index, const vorex_log_record_t& record) {
    std::string out = std::to_string(index) + ": ";
    for (std::uint8_t b : record.bytes) {
        out += hex_digits[b >> 4];
        out += hex_digits[b & 0x0F];
    }
    return out + "\n";
}

}  // namespace vorexctl
