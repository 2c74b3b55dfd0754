#include "sim/device_model.h"

#include <cstring>

namespace vorex_sim {

using namespace vorex_wire;

device_model::device_model(const device_config& config) : config_(config) { load_parameters(); }

vorex_device_info_t device_model::record() const {
    vorex_device_info_t info{};
    auto* r = reinterpret_cast<std::uint8_t*>(&info);
    // A readable model name in the opaque head, as a real sensor reports
    // its type there; a replayed sensor reports its recorded record.
    if (config_.base_record.size() == sizeof info) std::memcpy(r, config_.base_record.data(), sizeof info);
    else std::memcpy(r, "VOREX-SIM LP-648", 16);
    store_u32_le(r + device::at_serial, config_.serial);
    std::memcpy(r + device::at_ip_address, &config_.ip_address, 4);
    std::memcpy(r + device::at_subnet_mask, &config_.subnet_mask, 4);
    store_u16_le(r + device::at_data_port, config_.data_port);
    store_u16_le(r + device::at_service_port, config_.service_port);
    std::memcpy(r + device::at_mac_address, config_.mac.data(), device::mac_size);
    store_u32_le(r + device::at_image_packet_size, static_cast<std::uint32_t>(config_.image_packet_size));
    return info;
}

void device_model::set_service_port(std::uint16_t port) {
    std::lock_guard<std::mutex> guard(mutex_);
    config_.service_port = port;
}

bytes device_model::discovery_reply() {
    std::lock_guard<std::mutex> guard(mutex_);
    header h;
    h.flags = flags_request;
    h.serial = config_.serial;
    h.counter = counter_++;
    h.command_class = class_discovery;
    h.payload_length = static_cast<std::uint16_t>(device::record_size);
    bytes out(discovery_reply_size);
    encode(h, out.data());
    vorex_device_info_t info = record();
    std::memcpy(out.data() + header_size, &info, sizeof info);
    return out;
}

bytes device_model::reply_to(const header& request, std::uint8_t flags, const bytes& payload) const {
    header h = request;
    h.flags = flags;
    h.payload_length = static_cast<std::uint16_t>(payload.size());
    bytes out(header_size + payload.size());
    encode(h, out.data());
    if (!payload.empty()) std::memcpy(out.data() + header_size, payload.data(), payload.size());
    return out;
}

void device_model::power_cycle() {
    std::lock_guard<std::mutex> guard(mutex_);
    image_transfer_ = image_transfer{};
    maintenance_ = power_on(config_);
    load_parameters();
}

std::vector<reply> device_model::handle_service(const bytes& datagram) {
    if (datagram.size() < header_size) return {};
    header h = decode(datagram.data());
    if ((h.flags >> 4) == 2) return handle_acknowledgement(h, datagram);
    switch (h.command_class) {
    case class_params:
        return handle_params(h, datagram);
    case class_discovery:
        if (h.command_code >= 1 && h.command_code <= 22) return handle_params(h, datagram);
        if (h.command_code == 23 || h.command_code == 24) return handle_log(h, datagram);
        return {};
    case class_image:
        return handle_image(h, datagram);
    case class_firmware:
        return handle_firmware(h, datagram);
    default:
        return {};
    }
}

}  // namespace vorex_sim
