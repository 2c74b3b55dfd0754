#include "sim/faults.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "core/wire.h"

namespace vorex_sim {
namespace {

using clock = std::chrono::steady_clock;

// How long a reordered datagram is held back, so what follows overtakes it.
constexpr std::chrono::milliseconds reorder_hold{15};

bool is_image_chunk(const bytes& d) {
    return d.size() > vorex_wire::header_size + 4 && d[vorex_wire::at_class] == vorex_wire::class_image;
}

}  // namespace

bool fault_config::any() const {
    return drop > 0 || duplicate > 0 || reorder > 0 || truncate > 0 || corrupt > 0 || other_address > 0 ||
           delay.count() > 0 || flood_service > 0 || flood_data > 0 || silence > 0 || reboot > 0;
}

bool parse_faults(const std::string& faults, fault_config* out, std::string* error) {
    // The faults given as a chance per datagram.
    static const char* const chances[] = {"drop", "duplicate", "reorder", "truncate", "corrupt", "other-address",
                                          "silence", "reboot"};
    fault_config c;
    std::stringstream items(faults);
    std::string item;
    while (std::getline(items, item, ',')) {
        if (item.empty()) continue;
        const auto eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const std::string text = eq == std::string::npos ? "" : item.substr(eq + 1);
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0) {
            *error = "fault '" + name + "' needs a value of 0 or more";
            return false;
        }
        for (const char* chance : chances)
            if (name == chance && value > 1) {
                *error = "fault '" + name + "' is a chance from 0 to 1, not " + text;
                return false;
            }
        const auto ms = std::chrono::milliseconds(static_cast<long long>(value));
        if (name == "seed") c.seed = static_cast<std::uint64_t>(value);
        else if (name == "drop") c.drop = value;
        else if (name == "duplicate") c.duplicate = value;
        else if (name == "reorder") c.reorder = value;
        else if (name == "truncate") c.truncate = value;
        else if (name == "corrupt") c.corrupt = value;
        else if (name == "other-address") c.other_address = value;
        else if (name == "delay") c.delay = ms;
        else if (name == "flood-service") c.flood_service = value;
        else if (name == "flood-data") c.flood_data = value;
        else if (name == "silence") c.silence = value;
        else if (name == "silence-ms") c.silence_ms = ms;
        else if (name == "reboot") c.reboot = value;
        else if (name == "reboot-ms") c.reboot_ms = ms;
        else {
            *error = "unknown fault '" + name + "'";
            return false;
        }
    }
    *out = c;
    return true;
}

std::uint64_t fault_counts::total() const {
    return dropped + duplicated + reordered + delayed + truncated + corrupted + other_address + flooded + silences +
           reboots;
}

std::string fault_counts::summary() const {
    std::ostringstream s;
    s << "dropped " << dropped << ", duplicated " << duplicated << ", reordered " << reordered << ", delayed "
      << delayed << ", truncated " << truncated << ", corrupted " << corrupted << ", other address "
      << other_address << ", flooded " << flooded << ", silences " << silences << ", reboots " << reboots;
    return s.str();
}

fault_injector::fault_injector(const fault_config& config) : config_(config), random_(config.seed) {}

bool fault_injector::chance(double p) {
    return p > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(random_) < p;
}

std::vector<fault_injector::outgoing> fault_injector::shape(const bytes& datagram) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (chance(config_.drop)) {
        ++counts_.dropped;
        return {};
    }
    outgoing o{datagram, std::chrono::milliseconds(0), false};
    if (chance(config_.truncate) && o.data.size() > 1) {
        ++counts_.truncated;
        // A chunk keeps its offset and loses bytes from its end; anything
        // else loses its header's end, so it can never pass for a reply.
        const std::size_t keep_at_least = is_image_chunk(o.data) ? vorex_wire::header_size + 4 : 1;
        const std::size_t below = is_image_chunk(o.data) ? o.data.size() : vorex_wire::header_size;
        const std::size_t top = below > keep_at_least ? below - 1 : keep_at_least;
        o.data.resize(std::uniform_int_distribution<std::size_t>(keep_at_least, top)(random_));
    }
    if (chance(config_.corrupt) && o.data.size() >= vorex_wire::header_size) {
        ++counts_.corrupted;
        // reserved, serial, counter, command: bytes 1 to 11.
        const auto at = std::uniform_int_distribution<std::size_t>(1, vorex_wire::at_code)(random_);
        o.data[at] = static_cast<std::uint8_t>(o.data[at] ^ (1u + random_() % 255u));
    }
    if (chance(config_.other_address)) {
        ++counts_.other_address;
        o.from_other_address = true;
    }
    if (config_.delay.count() > 0) {
        ++counts_.delayed;
        o.delay = std::chrono::milliseconds(random_() % static_cast<std::uint64_t>(config_.delay.count() + 1));
    }
    if (chance(config_.reorder)) {
        ++counts_.reordered;
        o.delay += reorder_hold;
    }
    std::vector<outgoing> out{o};
    if (chance(config_.duplicate)) {
        ++counts_.duplicated;
        o.delay += std::chrono::milliseconds(random_() % 20);
        out.push_back(o);
    }
    return out;
}

bool fault_injector::silent_on_receive(bool* rebooted) {
    std::lock_guard<std::mutex> guard(mutex_);
    *rebooted = false;
    const auto now = clock::now();
    if (now < silent_until_) return true;
    if (chance(config_.reboot)) {
        ++counts_.reboots;
        *rebooted = true;
        silent_until_ = now + config_.reboot_ms;
        return true;
    }
    if (chance(config_.silence)) {
        ++counts_.silences;
        silent_until_ = now + config_.silence_ms;
        return true;
    }
    return false;
}

bytes fault_injector::junk(bool data_port) {
    std::lock_guard<std::mutex> guard(mutex_);
    // Shorter than a header on the service port; on the data port either
    // shorter than a profile header or of no profile type.
    const std::size_t top = data_port ? 200 : vorex_wire::header_size - 1;
    bytes d(std::uniform_int_distribution<std::size_t>(1, top)(random_));
    for (auto& b : d) b = static_cast<std::uint8_t>(random_());
    if (data_port && d[0] >= 16 && d[0] <= 19) d[0] = 0xEE;
    return d;
}

void fault_injector::count_flooded() {
    std::lock_guard<std::mutex> guard(mutex_);
    ++counts_.flooded;
}

fault_counts fault_injector::counts() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return counts_;
}

}  // namespace vorex_sim
