#include "messages.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "format.h"

namespace vorex_bridge {

namespace {

// sensor_msgs/PointField's datatype constant for float32.
constexpr std::uint8_t point_field_float32 = 7;
constexpr std::size_t image_bytes = std::size_t{camera_image::width} * camera_image::height;

char* text(std::string& s) { return s.data(); }

void store_float_le(std::uint8_t* at, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

}  // namespace

sensor_topics topics_for(std::uint32_t serial) {
    const std::string base = "rt/vorex/s" + std::to_string(serial) + "/";
    return {base + "points", base + "image", base + "device_info"};
}

std::string frame_id_for(const std::string& pattern, std::uint32_t serial) {
    static const std::string field = "{serial}";
    const std::string digits = std::to_string(serial);
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = pattern.find(field, from)) != std::string::npos; from = at + field.size())
        out += pattern.substr(from, at - from) + digits;
    return out + pattern.substr(from);
}

builtin_interfaces_msg_dds__Time_ stamp_of(wall_time t) {
    const auto ns = t.time_since_epoch().count();
    builtin_interfaces_msg_dds__Time_ stamp{};
    stamp.sec = static_cast<std::int32_t>(ns / 1000000000);
    stamp.nanosec = static_cast<std::uint32_t>(ns % 1000000000);
    return stamp;
}

std::string printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

float metres(double millimetres) { return static_cast<float>(millimetres / 1000.0); }

point_cloud::point_cloud(std::string frame_id) : frame_id_(std::move(frame_id)) {
    static const char* const names[3] = {"x", "y", "z"};
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i].name = const_cast<char*>(names[i]);
        fields_[i].offset = static_cast<std::uint32_t>(4 * i);
        fields_[i].datatype = point_field_float32;
        fields_[i].count = 1;
    }
    message_.header.frame_id = text(frame_id_);
    message_.height = 1;
    message_.fields._length = message_.fields._maximum = static_cast<std::uint32_t>(fields_.size());
    message_.fields._buffer = fields_.data();
    message_.is_bigendian = false;
    message_.point_step = point_step;
}

const sensor_msgs_msg_dds__PointCloud2_& point_cloud::fill(const vorex_profile& profile, wall_time received) {
    const std::size_t count = profile.points.size();
    data_.resize(count * point_step);
    bool dense = true;
    std::uint8_t* at = data_.data();
    for (const vorex_point_t& p : profile.points) {
        const float x = metres(p.x), z = metres(p.z);
        dense = dense && std::isfinite(x) && std::isfinite(z);
        store_float_le(at, x);
        store_float_le(at + 4, 0.0f);
        store_float_le(at + 8, z);
        at += point_step;
    }
    message_.header.stamp = stamp_of(received);
    message_.width = static_cast<std::uint32_t>(count);
    message_.row_step = static_cast<std::uint32_t>(count * point_step);
    message_.data._length = message_.data._maximum = static_cast<std::uint32_t>(data_.size());
    message_.data._buffer = data_.data();
    message_.is_dense = dense;
    return message_;
}

camera_image::camera_image(std::string frame_id) : frame_id_(std::move(frame_id)), pixels_(image_bytes) {
    message_.header.frame_id = text(frame_id_);
    message_.height = height;
    message_.width = width;
    message_.encoding = text(encoding_);
    message_.is_bigendian = 0;
    message_.step = width;
    message_.data._length = message_.data._maximum = static_cast<std::uint32_t>(pixels_.size());
    message_.data._buffer = pixels_.data();
}

const sensor_msgs_msg_dds__Image_& camera_image::stamp(wall_time taken) {
    message_.header.stamp = stamp_of(taken);
    return message_;
}

device_info::device_info(const vorex_device_info_t& record)
    : ip_(vorexctl::dotted(record.ip_address)),
      mask_(vorexctl::dotted(record.subnet_mask)),
      mac_(vorexctl::mac_text(record.mac_address)) {
    message_.serial = record.serial;
    message_.ip_address = text(ip_);
    message_.subnet_mask = text(mask_);
    message_.mac_address = text(mac_);
    message_.service_port = record.service_port;
    message_.data_port = record.data_port;
    message_.image_packet_size = record.image_packet_size;
}

}  // namespace vorex_bridge
