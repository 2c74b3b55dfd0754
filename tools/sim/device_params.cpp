// The simulated sensor's parameter store.
#include <cstdio>
#include <cstring>
#include <fstream>

#include "params/groups.h"
#include "sim/device_model.h"

namespace vorex_sim {

using namespace vorex_wire;

namespace {

// A recognisable factory block: every byte tells its offset, so a dump
// shows at a glance which stretch a group read brought back.
vorex_user_params_t factory_parameters(std::uint32_t serial) {
    vorex_user_params_t p;
    auto* b = reinterpret_cast<std::uint8_t*>(&p);
    for (std::size_t i = 0; i < sizeof p; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + serial);
    return p;
}

}  // namespace

std::string device_model::state_file() const {
    if (config_.state_dir.empty()) return {};
    return config_.state_dir + "/sensor-" + std::to_string(config_.serial) + ".params";
}

void device_model::load_parameters() {
    params_ = factory_parameters(config_.serial);
    std::string path = state_file();
    if (path.empty()) return;
    std::ifstream in(path, std::ios::binary);
    vorex_user_params_t stored;
    if (in.read(reinterpret_cast<char*>(&stored), sizeof stored)) params_ = stored;
}

// Written aside and renamed into place, so a simulator stopped halfway
// through a flush comes back with the previous block, never a torn one.
bool device_model::persist_parameters() const {
    std::string path = state_file();
    if (path.empty()) return true;
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out.write(reinterpret_cast<const char*>(&params_), sizeof params_)) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

vorex_user_params_t device_model::parameters() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return params_;
}

std::vector<reply> device_model::handle_params(const header& h, const bytes& datagram) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto* block = reinterpret_cast<std::uint8_t*>(&params_);
    const std::size_t payload = datagram.size() - header_size;
    const std::uint8_t* in = datagram.data() + header_size;

    if (h.command_class == class_params) {
        switch (h.command_code) {
        case 0x02:  // read the block
            return {{reply_to(h, flags_request, bytes(block, block + sizeof params_))}};
        case 0x03:  // write the block
            if (payload != sizeof params_) return {};
            std::memcpy(block, in, sizeof params_);
            return {{reply_to(h, flags_discovery, {})}};
        case 0x10:  // flush: persist what the block holds now; a failed flush is not confirmed
            if (!persist_parameters()) return {};
            log_event_locked(log_code::parameters_saved, "user parameters saved");
            return {{reply_to(h, flags_discovery, {})}};
        case 0x12:  // reboot: answer, then come back with the persisted block
            load_parameters();
            log_event_locked(log_code::reboot, "reboot");
            return {{reply_to(h, flags_discovery, {})}};
        default:
            return {};
        }
    }

    const int index = (h.command_code - 1) / 2;
    const bool write = h.command_code % 2 == 0;
    const vorex_params::group& g = vorex_params::groups[index];
    if (!write) return {{reply_to(h, flags_request, bytes(block + g.offset, block + g.offset + g.size))}};
    if (payload != static_cast<std::size_t>(g.size)) return {};
    std::memcpy(block + g.offset, in, payload);
    return {{reply_to(h, flags_discovery, {})}};
}

}  // namespace vorex_sim
