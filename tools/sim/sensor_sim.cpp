#include "sim/sensor_sim.h"

#include <chrono>

namespace vorex_sim {

using namespace vorex_wire;

sensor_sim::sensor_sim(const std::vector<device_config>& devices, bool discovery) {
    for (const device_config& c : devices) {
        auto model = std::make_unique<device_model>(c);
        device_model* m = model.get();
        auto ep = std::make_unique<udp_endpoint>(
            vorex_net::endpoint{c.ip_address, c.service_port}, [m](const datagram& d, udp_endpoint& self) {
                for (const reply& r : m->handle_service(d.data)) self.send(r.data, d.from, r.delay);
            });
        m->set_service_port(ep->local().port);
        devices_.push_back(std::move(model));
        services_.push_back(std::move(ep));
    }
    if (discovery) {
        discovery_ = std::make_unique<udp_endpoint>(
            vorex_net::endpoint{0, discovery_port},
            [this](const datagram& d, udp_endpoint& ep) { answer_discovery(d, ep); }, true);
    }
}

sensor_sim::~sensor_sim() {
    stop_streams();
    discovery_.reset();
    services_.clear();
}

// A sensor answers a broadcast that comes from its own subnet, as one on a
// real network segment would; a mask of 0 answers everyone.
void sensor_sim::answer_discovery(const datagram& d, udp_endpoint& ep) {
    if (d.data.size() != header_size) return;
    header h = decode(d.data.data());
    if (h.command_class != class_discovery || h.command_code != 0 || (h.flags >> 4) != 1) return;
    for (auto& m : devices_) {
        const device_config& c = m->config();
        if ((d.from.address & c.subnet_mask) != (c.ip_address & c.subnet_mask)) continue;
        ep.send(m->discovery_reply(), d.from);
    }
}

void sensor_sim::set_faults(const fault_config& config) {
    faults_.clear();
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        fault_config c = config;
        c.seed = config.seed + i;
        auto injector = std::make_shared<fault_injector>(c);
        device_model* m = devices_[i].get();
        services_[i]->set_faults(injector, [m] { m->power_cycle(); });
        faults_.push_back(std::move(injector));
    }
}

fault_counts sensor_sim::fault_totals() const {
    fault_counts sum;
    for (const auto& f : faults_) {
        const fault_counts c = f->counts();
        sum.dropped += c.dropped;
        sum.duplicated += c.duplicated;
        sum.reordered += c.reordered;
        sum.delayed += c.delayed;
        sum.truncated += c.truncated;
        sum.corrupted += c.corrupted;
        sum.other_address += c.other_address;
        sum.flooded += c.flooded;
        sum.silences += c.silences;
        sum.reboots += c.reboots;
    }
    return sum;
}

void sensor_sim::start_stream(std::size_t i, const stream_config& config) {
    services_[i]->set_flood_data_target(config.to);
    streams_.emplace_back([this, i, config] {
        udp_endpoint& out = *services_[i];
        const auto period = std::chrono::duration<double>(1.0 / config.rate_hz);
        auto next = clock::now();
        for (std::uint32_t seq = 0; !stop_streams_; ++seq) {
            const double travel = config.part_speed * static_cast<double>(seq) / config.rate_hz;
            out.send(config.part_speed > 0 ? make_part_profile(config.data_type, seq, travel)
                                           : make_profile(config.data_type, seq),
                     config.to);
            ++profiles_sent_;
            next += std::chrono::duration_cast<clock::duration>(period);
            std::this_thread::sleep_until(next);
        }
    });
}

void sensor_sim::stop_streams() {
    stop_streams_ = true;
    for (auto& t : streams_) t.join();
    streams_.clear();
    stop_streams_ = false;
}

}  // namespace vorex_sim
