#include "doctor_checks.h"

#include <cstdio>
#include <regex>
#include <sstream>

#include "files.h"
#include "format.h"

namespace vorexctl {

namespace {

// What the kernel charges for one type 19 datagram (5248 bytes and its
// buffers): a default buffer of 212992 holds about 25 of them.
constexpr double charge_per_datagram = 8704;
// The longest stall of the receiving thread the buffer should ride out.
constexpr double stall_ms = 10;

}  // namespace

std::string check_line(const check_result& r) {
    // Details quote process names and firewall rules, which their owners chose.
    return (r.ok ? "ok    " : "FAIL  ") + r.name + ": " + printable(r.detail) +
           (r.ok || r.fix.empty() ? "" : "; fix: " + printable(r.fix));
}

check_result check_receive_buffer(long reported_buffer, long rmem_max, bool may_force, double rate) {
    const double holds_ms = static_cast<double>(reported_buffer) / (rate * charge_per_datagram) * 1000;
    char detail[160];
    std::snprintf(detail, sizeof detail, "%ld bytes (net.core.rmem_max %ld%s) hold %.1f ms at %.0f profiles/s",
                  reported_buffer, rmem_max, may_force ? ", passed over" : "", holds_ms, rate);
    const bool ok = holds_ms >= stall_ms;
    std::string fix;
    if (!ok) {
        const long needed = static_cast<long>(rate * charge_per_datagram * stall_ms / 1000 / 2) + 1;
        fix = may_force || rmem_max >= needed
                  ? "lower the rate; the library asks for no more than it does"
                  : "sysctl -w net.core.rmem_max=" + std::to_string(needed) + " (and keep it in /etc/sysctl.d/)";
    }
    return {ok, "receive buffer", detail, fix};
}

check_result check_local_address(const std::vector<std::uint32_t>& host_addresses, std::uint32_t sensor,
                                 std::uint32_t mask) {
    for (std::uint32_t a : host_addresses)
        if ((a & mask) == (sensor & mask)) return {true, "local address", dotted(a) + " is in the sensor's subnet", ""};
    const std::string subnet = dotted(sensor & mask) + "/" + dotted(mask);
    return {false, "local address",
            "no address of this host is in " + subnet + " (sensor " + dotted(sensor) + "); the sockets bind to 0.0.0.0",
            "give the adapter facing the sensor an address in " + subnet + " (ip addr add ADDRESS/PREFIX dev DEVICE)"};
}

std::string dropping_rule(const std::string& listing, const std::vector<std::uint16_t>& ports) {
    static const std::regex verdict(R"(\b(drop|reject)\b|-j (DROP|REJECT)\b)", std::regex::icase);
    static const std::regex input_policy(R"(hook input.*policy drop|^-P INPUT DROP)");
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, input_policy)) return line;
        if (!std::regex_search(line, verdict) || line.find("udp") == std::string::npos) continue;
        for (std::uint16_t port : ports)
            if (std::regex_search(line, std::regex("dport (\\{[^}]*[ ,]|)" + std::to_string(port) + "\\b")))
                return line;
    }
    return "";
}

}  // namespace vorexctl
