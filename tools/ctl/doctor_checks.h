// The judgements of `vorexctl doctor`, apart from how it gathers the facts,
// so each can be tried on any facts.
#ifndef VOREXCTL_DOCTOR_CHECKS_H
#define VOREXCTL_DOCTOR_CHECKS_H

#include <cstdint>
#include <string>
#include <vector>

namespace vorexctl {

struct check_result {
    bool ok;
    std::string name;    // "receive buffer"
    std::string detail;  // what was found
    std::string fix;     // one line on how to mend it; empty when ok
};

// "ok    name: detail" or "FAIL  name: detail; fix: fix".
std::string check_line(const check_result& r);

// Whether a data socket's receive buffer (as the kernel reports it, twice
// the granted size) rides out a stall of the receiving thread at `rate`
// profiles per second of the largest type. `rmem_max` names the limit in
// the fix; `may_force` tells whether the limit applied.
check_result check_receive_buffer(long reported_buffer, long rmem_max, bool may_force, double rate);

// Whether one of the host's IPv4 addresses lies in the sensor's subnet.
// All in network byte order.
check_result check_local_address(const std::vector<std::uint32_t>& host_addresses, std::uint32_t sensor,
                                 std::uint32_t mask);

// The first line of a firewall listing (`nft list ruleset` or
// `iptables -S`) that drops or rejects UDP to one of `ports` or drops
// all input by policy; "" when there is none.
std::string dropping_rule(const std::string& listing, const std::vector<std::uint16_t>& ports);

}  // namespace vorexctl

#endif
