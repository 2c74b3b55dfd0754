// The command line of a worker: the supervisor's options again and the
// device record of its sensor.
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "bridge.h"
#include "messages.h"

namespace vorex_bridge {

std::vector<std::string> option_words(const bridge_options& o) {
    std::vector<std::string> words;
    for (std::uint32_t s : o.serials) words.insert(words.end(), {"--serial", std::to_string(s)});
    words.insert(words.end(), {"--frame-id", o.frame_id, "--image-period", printed("%.17g", o.image_period),
                               "--depth", std::to_string(o.depth)});
    if (o.domain != DDS_DOMAIN_DEFAULT) words.insert(words.end(), {"--domain", std::to_string(o.domain)});
    if (o.reliable) words.push_back("--reliable");
    return words;
}

std::string record_hex(const vorex_device_info_t& record) {
    static const char digits[] = "0123456789abcdef";
    const auto* b = reinterpret_cast<const std::uint8_t*>(&record);
    std::string out;
    for (std::size_t i = 0; i < sizeof record; ++i) {
        out += digits[b[i] >> 4];
        out += digits[b[i] & 15];
    }
    return out;
}

bool parse_record_hex(const std::string& text, vorex_device_info_t* record) {
    if (text.size() != 2 * sizeof *record) return false;
    auto* b = reinterpret_cast<std::uint8_t*>(record);
    for (std::size_t i = 0; i < sizeof *record; ++i) {
        const std::string pair = text.substr(2 * i, 2);
        char* end = nullptr;
        const unsigned long v = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(pair[0]))) return false;
        b[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

}  // namespace vorex_bridge
