#include "select.h"

#include <cstring>

#include "format.h"

namespace vorexctl {

bool selector::matches(const vorex_device_info_t& info) const {
    const std::uint32_t info_serial = info.serial, info_ip = info.ip_address;
    if (serial && *serial != info_serial) return false;
    if (ip && *ip != info_ip) return false;
    if (mac && std::memcmp(mac->data(), info.mac_address, mac->size()) != 0) return false;
    return true;
}

std::string selector::describe() const {
    std::string out;
    auto add = [&out](const std::string& part) { out += (out.empty() ? "" : ", ") + part; };
    if (serial) add("serial " + std::to_string(*serial));
    if (ip) add("IP " + dotted(*ip));
    if (mac) add("MAC " + mac_text(mac->data()));
    return out;
}

selection select_sensor(const std::vector<vorex_device_info_t>& found, const selector& wanted) {
    if (found.empty()) return {-1, "no sensor found"};
    std::vector<int> matching;
    for (std::size_t i = 0; i < found.size(); ++i)
        if (wanted.matches(found[i])) matching.push_back(static_cast<int>(i));
    if (matching.size() == 1) return {matching[0], ""};

    const std::string seen = std::to_string(found.size()) + " found";
    if (matching.empty()) return {-1, "no sensor with " + wanted.describe() + " (" + seen + ")"};
    std::string serials;
    for (int i : matching) {
        const std::uint32_t s = found[i].serial;
        serials += (serials.empty() ? "" : ", ") + std::to_string(s) + " at " + dotted(found[i].ip_address);
    }
    if (wanted.empty())
        return {-1, seen + " (" + serials + "); choose one with --serial, --ip or --mac"};
    return {-1, std::to_string(matching.size()) + " sensors match " + wanted.describe() + " (" + serials +
                    "); narrow the choice with --serial, --ip or --mac"};
}

}  // namespace vorexctl
