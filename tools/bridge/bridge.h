// vorex-bridge's two roles: the supervisor, which searches every second
// and keeps one worker process per sensor, and the worker, which owns one
// sensor's session and DDS participant. Separate processes because the
// library's data lock is process-wide and held through each get_result's
// idle wait: in one process a silent sensor would hold up every other.
#ifndef VOREX_BRIDGE_BRIDGE_H
#define VOREX_BRIDGE_BRIDGE_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "dds/dds.h"
#include "vorex.h"

namespace vorex_bridge {

struct bridge_options {
    std::vector<std::uint32_t> serials;  // empty: every sensor found
    std::string frame_id;                // "{serial}" stands for the serial
    double image_period = 0;             // seconds; 0: no images
    dds_domainid_t domain = DDS_DOMAIN_DEFAULT;
    int depth = 10;                      // keep-last depth of points and images
    bool reliable = false;               // points and images reliable rather than best effort
};

// The options again as the command line that gives them, for a worker.
std::vector<std::string> option_words(const bridge_options& o);

// Set by SIGTERM and SIGINT.
extern std::atomic<bool> stopping;
void stop_on_signals();

// Runs until `stopping`: searches, starts, restarts and reaps workers, then
// stops them. 1 when DDS cannot be joined at the start (one line on
// stderr), else 0. `program` is this executable.
int run_supervisor(const bridge_options& o, const std::string& program);

// Runs one sensor's worker until `stopping`; 1 when DDS fails at the
// start, else 0. The session is made from the record alone: the sensor's
// message counter moves with every search that any host makes, so the
// supervisor's view of it would be stale by the time the worker speaks.
int run_worker(const bridge_options& o, const vorex_device_info_t& record);

// The device record as hex text for a worker's command line, and back.
std::string record_hex(const vorex_device_info_t& record);
bool parse_record_hex(const std::string& text, vorex_device_info_t* record);

}  // namespace vorex_bridge

#endif
