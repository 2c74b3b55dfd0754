// What vorex-bridge puts on DDS, decided without DDS: topic names, frame
// ids, and the ROS 2 messages built from a profile, the image and the
// device record. Each message object owns the storage its DDS sample
// points into, so one object serves every publication of its kind and a
// profile costs no allocation once the largest one has been seen.
#ifndef VOREX_BRIDGE_MESSAGES_H
#define VOREX_BRIDGE_MESSAGES_H

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "builtin_interfaces/msg/Time.h"
#include "sensor_msgs/msg/Image.h"
#include "sensor_msgs/msg/PointCloud2.h"
#include "vorex.h"
#include "vorex_msgs/msg/DeviceInfo.h"

namespace vorex_bridge {

// The library's receive time: wall clock, nanoseconds.
using wall_time = vorex_receive_time;

// The DDS topics of one sensor: ROS 2 topic /vorex/s<serial>/<what> is DDS
// topic rt/vorex/s<serial>/<what>.
struct sensor_topics {
    std::string points, image, device_info;
};
sensor_topics topics_for(std::uint32_t serial);
// ROS 2's /diagnostics.
inline constexpr const char* diagnostics_topic = "rt/diagnostics";

// The frame id for `serial`: `pattern` with every "{serial}" replaced by
// the serial's decimal digits. The bridge's default is "vorex_s{serial}".
std::string frame_id_for(const std::string& pattern, std::uint32_t serial);
inline constexpr const char* default_frame_id = "vorex_s{serial}";

// ROS 2 time of a wall-clock instant (seconds since the epoch, nanoseconds).
builtin_interfaces_msg_dds__Time_ stamp_of(wall_time t);

// `value` as printf's `format` (one double conversion) writes it.
std::string printed(const char* format, double value);

// The library's millimetres as the metres a ROS 2 user expects, in float32.
float metres(double millimetres);

// sensor_msgs/PointCloud2 of one profile: one row of points, fields x, y, z
// float32 little-endian at offsets 0, 4, 8 (point_step 12): x the sensor's
// X across its view, y 0, z the sensor's Z along it. is_dense tells whether
// every coordinate is finite (a divisor of 0 gives infinities or NaN).
class point_cloud {
public:
    explicit point_cloud(std::string frame_id);
    point_cloud(const point_cloud&) = delete;
    point_cloud& operator=(const point_cloud&) = delete;

    // Fills the message from `profile`, stamped `received`.
    const sensor_msgs_msg_dds__PointCloud2_& fill(const vorex_profile& profile, wall_time received);
    const sensor_msgs_msg_dds__PointCloud2_& message() const { return message_; }

    static constexpr std::uint32_t point_step = 12;

private:
    std::string frame_id_;
    std::array<sensor_msgs_msg_dds__PointField_, 3> fields_{};
    std::vector<std::uint8_t> data_;
    sensor_msgs_msg_dds__PointCloud2_ message_{};
};

// sensor_msgs/Image of the sensor's 648 x 488 picture, mono8, one byte per
// pixel, rows of 648 bytes.
class camera_image {
public:
    explicit camera_image(std::string frame_id);
    camera_image(const camera_image&) = delete;
    camera_image& operator=(const camera_image&) = delete;

    // Where get_image writes the picture (316224 bytes).
    unsigned char* pixels() { return pixels_.data(); }
    const sensor_msgs_msg_dds__Image_& stamp(wall_time taken);

    static constexpr std::uint32_t width = 648, height = 488;

private:
    std::string frame_id_;
    std::string encoding_ = "mono8";
    std::vector<std::uint8_t> pixels_;
    sensor_msgs_msg_dds__Image_ message_{};
};

// vorex_msgs/DeviceInfo of a device record: addresses as dotted text, the
// MAC address as six hex octets joined by colons.
class device_info {
public:
    explicit device_info(const vorex_device_info_t& record);
    device_info(const device_info&) = delete;
    device_info& operator=(const device_info&) = delete;
    const vorex_msgs_msg_dds__DeviceInfo_& message() const { return message_; }

private:
    std::string ip_, mask_, mac_;
    vorex_msgs_msg_dds__DeviceInfo_ message_{};
};

}  // namespace vorex_bridge

#endif
