#include "health.h"

namespace vorex_bridge {

namespace {

std::string rate_text(double per_second) { return printed("%.1f", per_second); }

}  // namespace

bool is_stale(const sensor_health& h, steady::time_point now) {
    return h.connected && now - h.last_profile >= stale_after;
}

const diagnostic_msgs_msg_dds__DiagnosticStatus_& health_status::fill(const sensor_health& h, steady::time_point now,
                                                                       bool trouble_in_period) {
    const std::string serial = std::to_string(h.serial);
    name_ = "vorex-bridge: s" + serial;
    hardware_id_ = "vorex_s" + serial;
    const bool stale = is_stale(h, now);
    level l = level::ok;
    if (!h.connected) {
        l = level::error;
        message_ = "not connected" + (h.last_error.empty() ? std::string() : ": " + h.last_error);
    } else if (stale) {
        l = level::stale;
        message_ = "stale: no profile for " +
                   rate_text(std::chrono::duration<double>(now - h.last_profile).count()) + " s";
    } else if (trouble_in_period) {
        l = level::warn;
        message_ = "streaming, with malformed datagrams or kernel drops";
    } else {
        message_ = "streaming";
    }
    texts_ = {
        {"profiles_per_second", rate_text(h.profiles_per_second)},
        {"profiles", std::to_string(h.profiles)},
        {"malformed", std::to_string(h.malformed)},
        {"kernel_drops", h.kernel_drops < 0 ? std::string("unknown") : std::to_string(h.kernel_drops)},
        {"connected", h.connected ? "true" : "false"},
        {"stale", stale ? "true" : "false"},
        {"last_error", h.last_error},
    };
    values_.resize(texts_.size());
    for (std::size_t i = 0; i < texts_.size(); ++i) {
        values_[i].key = texts_[i].first.data();
        values_[i].value = texts_[i].second.data();
    }
    status_.level = static_cast<std::uint8_t>(l);
    status_.name = name_.data();
    status_.message = message_.data();
    status_.hardware_id = hardware_id_.data();
    status_.values._length = status_.values._maximum = static_cast<std::uint32_t>(values_.size());
    status_.values._buffer = values_.data();
    return status_;
}

std::string health_status::value(const std::string& key) const {
    for (const auto& kv : texts_)
        if (kv.first == key) return kv.second;
    return "";
}

const diagnostic_msgs_msg_dds__DiagnosticArray_& health_report::fill(const sensor_health& h, steady::time_point now,
                                                                      bool trouble_in_period, wall_time stamp) {
    entry_ = status_.fill(h, now, trouble_in_period);
    array_.header.stamp = stamp_of(stamp);
    array_.header.frame_id = frame_id_.data();
    array_.status._length = array_.status._maximum = 1;
    array_.status._buffer = &entry_;
    return array_;
}

}  // namespace vorex_bridge
