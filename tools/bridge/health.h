// The health of one sensor as the bridge reports it on /diagnostics: what
// the worker counts, and the diagnostic_msgs/DiagnosticStatus made of it.
#ifndef VOREX_BRIDGE_HEALTH_H
#define VOREX_BRIDGE_HEALTH_H

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "diagnostic_msgs/msg/DiagnosticArray.h"
#include "messages.h"

namespace vorex_bridge {

using steady = std::chrono::steady_clock;

// A sensor that sent nothing for this long is stale.
inline constexpr std::chrono::milliseconds stale_after{1000};

// diagnostic_msgs/DiagnosticStatus levels.
enum class level : std::uint8_t { ok = 0, warn = 1, error = 2, stale = 3 };

// What a worker knows about its sensor; counts since the worker started.
struct sensor_health {
    std::uint32_t serial = 0;
    bool connected = false;            // both sockets bound
    std::uint64_t profiles = 0;        // profiles published
    std::uint64_t malformed = 0;       // datagrams refused as malformed
    std::int64_t kernel_drops = -1;    // dropped by the kernel on the data port; -1: unknown
    double profiles_per_second = 0;    // over the last report period
    steady::time_point last_profile{}; // or when the connection was made, before the first
    std::string last_error;            // the library's last failure text, "" when none
};

// Whether the sensor has gone quiet at `now`.
bool is_stale(const sensor_health& h, steady::time_point now);

// One status: name "vorex-bridge: s<serial>", hardware id "vorex_s<serial>",
// level and message from the state (error when not connected, stale when
// quiet for stale_after, warn while malformed datagrams or kernel drops
// are counted in the period, else ok), and the counts as key-value pairs.
class health_status {
public:
    const diagnostic_msgs_msg_dds__DiagnosticStatus_& fill(const sensor_health& h, steady::time_point now,
                                                            bool trouble_in_period);
    // The value of `key` in the last fill, "" when there is none.
    std::string value(const std::string& key) const;

private:
    std::string name_, message_, hardware_id_;
    std::vector<std::pair<std::string, std::string>> texts_;
    std::vector<diagnostic_msgs_msg_dds__KeyValue_> values_;
    diagnostic_msgs_msg_dds__DiagnosticStatus_ status_{};
};

// /diagnostics with one status, stamped `now`.
class health_report {
public:
    const diagnostic_msgs_msg_dds__DiagnosticArray_& fill(const sensor_health& h, steady::time_point now,
                                                           bool trouble_in_period, wall_time stamp);
    const health_status& status() const { return status_; }

private:
    health_status status_;
    diagnostic_msgs_msg_dds__DiagnosticStatus_ entry_{};
    std::string frame_id_;
    diagnostic_msgs_msg_dds__DiagnosticArray_ array_{};
};

}  // namespace vorex_bridge

#endif
