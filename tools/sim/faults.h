// Network faults for the simulated sensor, combinable and seeded: what its
// endpoint does to each datagram it sends, when it stops answering, and
// the junk it floods the host with. One injector serves one sensor; all of
// it is thread-safe.
//
// The faults stay within what UDP and a sensor can really do to the host,
// so that every datagram they spoil is one the library can tell by its
// length: UDP checksums mean a datagram arrives intact or not at all, so
// "corrupt" alters only header fields the library ignores (reserved,
// serial, counter, command) as a confused sensor might; "truncate" cuts a
// reply below a whole header and an image chunk anywhere past its offset;
// service-port junk is shorter than a header, data-port junk is no profile.
#ifndef VOREX_SIM_FAULTS_H
#define VOREX_SIM_FAULTS_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace vorex_sim {

using bytes = std::vector<std::uint8_t>;

struct fault_config {
    std::uint64_t seed = 1;
    // Chances per datagram sent.
    double drop = 0, duplicate = 0, reorder = 0, truncate = 0, corrupt = 0, other_address = 0;
    // Every datagram sent waits a random time up to this.
    std::chrono::milliseconds delay{0};
    // Junk datagrams per second to the host's service socket and data port.
    double flood_service = 0, flood_data = 0;
    // Chance per datagram received to fall silent (answer nothing) for
    // silence_ms, and to reboot (lose every transfer, come back after
    // reboot_ms of silence).
    double silence = 0, reboot = 0;
    std::chrono::milliseconds silence_ms{300}, reboot_ms{200};

    bool any() const;
};

// Parses "drop=0.05,duplicate=0.02,delay=20,flood-service=200,seed=7,...":
// the fields above, with '-' for '_'. False with a message on a malformed list.
bool parse_faults(const std::string& faults, fault_config* out, std::string* error);

struct fault_counts {
    std::uint64_t dropped = 0, duplicated = 0, reordered = 0, delayed = 0, truncated = 0, corrupted = 0,
                  other_address = 0, flooded = 0, silences = 0, reboots = 0;
    std::uint64_t total() const;
    std::string summary() const;
};

class fault_injector {
public:
    explicit fault_injector(const fault_config& config);

    const fault_config& config() const { return config_; }

    struct outgoing {
        bytes data;
        std::chrono::milliseconds delay;
        bool from_other_address;
    };
    // What reaches the wire of one datagram the sensor sends: nothing, the
    // datagram (perhaps spoiled, late, or from another address), or more.
    std::vector<outgoing> shape(const bytes& datagram);

    // Decides, for a datagram just received, whether the sensor is silent
    // now; true when it must not answer. `rebooted` is set when this very
    // datagram caught it rebooting.
    bool silent_on_receive(bool* rebooted);

    // One junk datagram for the service socket or the data port.
    bytes junk(bool data_port);
    void count_flooded();

    fault_counts counts() const;

private:
    bool chance(double p);  // REQUIRES: mutex_ held

    fault_config config_;
    mutable std::mutex mutex_;
    std::mt19937_64 random_;
    fault_counts counts_;
    std::chrono::steady_clock::time_point silent_until_{};
};

}  // namespace vorex_sim

#endif
