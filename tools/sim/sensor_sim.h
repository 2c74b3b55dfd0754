// The simulated sensor's UDP front end: one service socket per simulated
// device, an optional shared discovery socket on port 50011, and an
// optional profile stream per device.
#ifndef VOREX_SIM_SENSOR_SIM_H
#define VOREX_SIM_SENSOR_SIM_H

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "sim/device_model.h"
#include "sim/udp_endpoint.h"

namespace vorex_sim {

struct stream_config {
    int data_type = 19;         // 16..19
    double rate_hz = 100.0;     // profiles per second
    vorex_net::endpoint to{};   // host address and data port
    double part_speed = 0;      // mm/s: the moving part instead of the swinging box
};

// The synthetic scene: profile number `sequence` of the given data type,
// a whole datagram (64-byte header and samples).
bytes make_profile(int data_type, std::uint32_t sequence);
// Profile number `sequence` of the moving part, `travel_mm` after its start.
bytes make_part_profile(int data_type, std::uint32_t sequence, double travel_mm);

class sensor_sim {
public:
    // Binds every device's service socket (to its ip_address and
    // service_port; port 0 picks one) and, when `discovery` is set, the
    // discovery socket on 0.0.0.0:50011.
    explicit sensor_sim(const std::vector<device_config>& devices, bool discovery = false);
    ~sensor_sim();

    std::size_t size() const { return devices_.size(); }
    device_model& device(std::size_t i) { return *devices_[i]; }
    udp_endpoint& service(std::size_t i) { return *services_[i]; }
    udp_endpoint* discovery() { return discovery_.get(); }
    // The device record as discovery reports it, with the bound port.
    vorex_device_info_t record(std::size_t i) const { return devices_[i]->record(); }

    // Streams profiles of device i until stop_streams() or destruction.
    void start_stream(std::size_t i, const stream_config& config);
    void stop_streams();
    std::uint64_t profiles_sent() const { return profiles_sent_; }

    // Gives every device's service endpoint (and with it its profile
    // stream) its own injector, seeded from config.seed and the device's
    // index; a reboot fault power-cycles the device model.
    void set_faults(const fault_config& config);
    // What the injectors did so far, summed over the devices.
    fault_counts fault_totals() const;

private:
    void answer_discovery(const datagram& d, udp_endpoint& ep);

    std::vector<std::unique_ptr<device_model>> devices_;
    std::vector<std::unique_ptr<udp_endpoint>> services_;
    std::unique_ptr<udp_endpoint> discovery_;
    std::vector<std::shared_ptr<fault_injector>> faults_;
    std::vector<std::thread> streams_;
    std::atomic<bool> stop_streams_{false};
    std::atomic<std::uint64_t> profiles_sent_{0};
};

}  // namespace vorex_sim

#endif
