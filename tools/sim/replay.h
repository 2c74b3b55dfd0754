// vorex-sim --replay: a recording's profile datagrams played to the host as
// the recorded sensor sent them, with the device record of its discovery
// reply when the recording holds one.
#ifndef VOREX_SIM_REPLAY_H
#define VOREX_SIM_REPLAY_H

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_model.h"
#include "sim/udp_endpoint.h"

namespace vorex_sim {

struct recorded_datagram {
    bytes payload;                       // the UDP payload, reassembled when it came in fragments
    std::chrono::microseconds at{0};     // capture time after the first profile's
};

struct recording {
    std::vector<recorded_datagram> profiles;
    std::optional<vorex_device_info_t> record;  // from the first discovery reply
};

// Reads a pcap file (Ethernet, Linux cooked, loopback or raw IP links).
// Profiles are the datagrams to the recorded data port, or, without a
// discovery reply to name it, the datagrams of a profile's size and type.
// Throws std::runtime_error with a one-line reason.
recording read_recording(const std::string& path);

// The recorded record's identity and ports go into `config`; its address
// and service port too unless the user chose them. The model then reports
// the recorded record, opaque bytes included.
void adopt_record(const vorex_device_info_t& record, device_config& config, bool keep_address, bool keep_service_port);

// Sends the profiles through `out` to `to`, spaced as recorded divided by
// `speed`, once or round and round, until done or `stop`. Returns the
// number sent.
std::uint64_t play(const recording& r, udp_endpoint& out, vorex_net::endpoint to, double speed, bool loop,
                   const std::atomic<bool>& stop);

}  // namespace vorex_sim

#endif
