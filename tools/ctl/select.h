// Which of the sensors a search found a command talks to.
#ifndef VOREXCTL_SELECT_H
#define VOREXCTL_SELECT_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vorex.h"

namespace vorexctl {

using mac_address = std::array<std::uint8_t, 6>;

// What the user named on the command line; every criterion given must
// match. An empty selector accepts the only sensor found.
struct selector {
    std::optional<std::uint32_t> serial;
    std::optional<std::uint32_t> ip;  // network byte order, as in the device record
    std::optional<mac_address> mac;

    bool empty() const { return !serial && !ip && !mac; }
    bool matches(const vorex_device_info_t& info) const;
    // "serial 5, IP 10.0.0.2" for messages.
    std::string describe() const;
};

struct selection {
    int index = -1;     // into the list searched; -1 when nothing was chosen
    std::string error;  // one line saying why nothing was chosen
};

// Chooses exactly one sensor of `found`; refuses when none or several match.
selection select_sensor(const std::vector<vorex_device_info_t>& found, const selector& wanted);

}  // namespace vorexctl

#endif
