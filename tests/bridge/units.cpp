// What vorex-bridge decides before DDS sees it: names, the message layout
// a ROS 2 subscriber reads, the unit conversion, and the health it reports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "bridge.h"
#include "diagnostic_msgs/msg/DiagnosticArray.h"
#include "health.h"
#include "messages.h"

namespace {

using namespace vorex_bridge;
using namespace std::chrono_literals;

wall_time at_ns(std::int64_t ns) { return wall_time(std::chrono::nanoseconds(ns)); }

std::vector<std::uint8_t> le_bytes(float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits >> 16),
            static_cast<std::uint8_t>(bits >> 24)};
}

TEST(bridge_names, topics_frames_and_type_names_are_those_ros2_uses) {
    const sensor_topics t = topics_for(1001);
    EXPECT_EQ(t.points, "rt/vorex/s1001/points");
    EXPECT_EQ(t.image, "rt/vorex/s1001/image");
    EXPECT_EQ(t.device_info, "rt/vorex/s1001/device_info");
    EXPECT_STREQ(diagnostics_topic, "rt/diagnostics");
    EXPECT_EQ(topics_for(4294967295u).points, "rt/vorex/s4294967295/points");

    const struct {
        const char* pattern;
        std::uint32_t serial;
        const char* frame;
    } frames[] = {{default_frame_id, 1001, "vorex_s1001"},
                  {"laser", 7, "laser"},
                  {"{serial}/{serial}", 7, "7/7"},
                  {"cell2_{serial}_optical", 42, "cell2_42_optical"},
                  {"{seria}", 1, "{seria}"}};
    for (const auto& f : frames) EXPECT_EQ(frame_id_for(f.pattern, f.serial), f.frame) << f.pattern;

    const struct {
        const dds_topic_descriptor_t* type;
        const char* name;
    } types[] = {{&sensor_msgs_msg_dds__PointCloud2__desc, "sensor_msgs::msg::dds_::PointCloud2_"},
                 {&sensor_msgs_msg_dds__Image__desc, "sensor_msgs::msg::dds_::Image_"},
                 {&diagnostic_msgs_msg_dds__DiagnosticArray__desc, "diagnostic_msgs::msg::dds_::DiagnosticArray_"},
                 {&vorex_msgs_msg_dds__DeviceInfo__desc, "vorex_msgs::msg::dds_::DeviceInfo_"}};
    for (const auto& t2 : types) EXPECT_STREQ(t2.type->m_typename, t2.name);
}

TEST(bridge_point_cloud, one_row_of_float32_metres_x_y_z_little_endian) {
    vorex_profile p{};
    p.points = {{-100.0, 500.0}, {0.025, 250.02}, {120.0, 0.02}};
    point_cloud cloud("vorex_s1001");
    const auto& m = cloud.fill(p, at_ns(1700000000123456789));
    EXPECT_EQ(m.header.stamp.sec, 1700000000);
    EXPECT_EQ(m.header.stamp.nanosec, 123456789u);
    EXPECT_STREQ(m.header.frame_id, "vorex_s1001");
    EXPECT_EQ(m.height, 1u);
    EXPECT_EQ(m.width, 3u);
    EXPECT_EQ(m.point_step, 12u);
    EXPECT_EQ(m.row_step, 36u);
    EXPECT_FALSE(m.is_bigendian);
    EXPECT_TRUE(m.is_dense);
    ASSERT_EQ(m.fields._length, 3u);
    const char* names[] = {"x", "y", "z"};
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(m.fields._buffer[i].name, names[i]);
        EXPECT_EQ(m.fields._buffer[i].offset, 4 * i);
        EXPECT_EQ(m.fields._buffer[i].datatype, 7);  // FLOAT32
        EXPECT_EQ(m.fields._buffer[i].count, 1u);
    }
    ASSERT_EQ(m.data._length, 36u);
    // -100 mm is -0.1 m: float32 0xbdcccccd, stored low byte first.
    const std::vector<std::uint8_t> first(m.data._buffer, m.data._buffer + 12);
    EXPECT_EQ(first, (std::vector<std::uint8_t>{0xcd, 0xcc, 0xcc, 0xbd, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x3f}));
    for (std::size_t i = 0; i < p.points.size(); ++i) {
        const std::uint8_t* at = m.data._buffer + 12 * i;
        EXPECT_EQ(std::vector<std::uint8_t>(at, at + 4), le_bytes(static_cast<float>(p.points[i].x / 1000.0)));
        EXPECT_EQ(std::vector<std::uint8_t>(at + 8, at + 12), le_bytes(static_cast<float>(p.points[i].z / 1000.0)));
    }

    // A smaller profile after it, and one a divisor of 0 made infinite.
    p.points = {{std::numeric_limits<double>::infinity(), 1.0}};
    const auto& n = cloud.fill(p, at_ns(5));
    EXPECT_EQ(n.width, 1u);
    EXPECT_EQ(n.row_step, 12u);
    EXPECT_EQ(n.data._length, 12u);
    EXPECT_FALSE(n.is_dense);
    p.points.clear();
    const auto& e = cloud.fill(p, at_ns(6));
    EXPECT_EQ(e.width, 0u);
    EXPECT_EQ(e.data._length, 0u);
    EXPECT_TRUE(e.is_dense);
}

TEST(bridge_messages, image_and_device_record) {
    camera_image image("f");
    const auto& m = image.stamp(at_ns(2500000000));
    EXPECT_EQ(m.header.stamp.sec, 2);
    EXPECT_EQ(m.header.stamp.nanosec, 500000000u);
    EXPECT_EQ(m.width, 648u);
    EXPECT_EQ(m.height, 488u);
    EXPECT_EQ(m.step, 648u);
    EXPECT_STREQ(m.encoding, "mono8");
    EXPECT_EQ(m.data._length, 316224u);
    EXPECT_EQ(m.data._buffer, image.pixels());

    vorex_device_info_t r{};
    r.serial = 1001;
    const std::uint8_t ip[4] = {198, 18, 1, 10}, mask[4] = {255, 255, 255, 0};
    std::memcpy(&r.ip_address, ip, 4);
    std::memcpy(&r.subnet_mask, mask, 4);
    r.data_port = 50020;
    r.service_port = 50030;
    r.image_packet_size = 1400;
    const std::uint8_t mac[6] = {0x02, 0x56, 0x58, 0x00, 0x0a, 0xff};
    std::memcpy(r.mac_address, mac, 6);
    const device_info d(r);
    EXPECT_EQ(d.message().serial, 1001u);
    EXPECT_STREQ(d.message().ip_address, "198.18.1.10");
    EXPECT_STREQ(d.message().subnet_mask, "255.255.255.0");
    EXPECT_STREQ(d.message().mac_address, "02:56:58:00:0a:ff");
    EXPECT_EQ(d.message().data_port, 50020);
    EXPECT_EQ(d.message().service_port, 50030);
    EXPECT_EQ(d.message().image_packet_size, 1400);

    // The record travels to a worker as text and comes back whole.
    for (std::size_t i = 0; i < sizeof r; ++i) reinterpret_cast<std::uint8_t*>(&r)[i] = static_cast<std::uint8_t>(i * 7);
    vorex_device_info_t back{};
    ASSERT_TRUE(parse_record_hex(record_hex(r), &back));
    EXPECT_EQ(std::memcmp(&r, &back, sizeof r), 0);
    std::string text = record_hex(r);
    EXPECT_FALSE(parse_record_hex(text.substr(1), &back));
    text[100] = 'g';
    EXPECT_FALSE(parse_record_hex(text, &back));
}

TEST(bridge_health, level_message_and_counts) {
    const auto now = steady::now();
    sensor_health h;
    h.serial = 1005;
    h.profiles = 12345;
    h.malformed = 2;
    h.kernel_drops = 7;
    h.profiles_per_second = 499.96;
    const struct {
        bool connected;
        std::chrono::milliseconds quiet;
        bool trouble;
        const char* error;
        level expected;
        const char* message;
        const char* stale;
    } cases[] = {
        {false, 0ms, false, "Failed to bind data socket", level::error, "not connected: Failed to bind data socket", "false"},
        {false, 0ms, false, "", level::error, "not connected", "false"},
        {true, 999ms, false, "", level::ok, "streaming", "false"},
        {true, 999ms, true, "Malformed packet", level::warn, "streaming, with malformed datagrams or kernel drops", "false"},
        {true, 1000ms, false, "", level::stale, "stale: no profile for 1.0 s", "true"},
        {true, 2500ms, true, "", level::stale, "stale: no profile for 2.5 s", "true"},
    };
    for (const auto& c : cases) {
        h.connected = c.connected;
        h.last_profile = now - c.quiet;
        h.last_error = c.error;
        health_report report;
        const auto& a = report.fill(h, now, c.trouble, at_ns(3000000001));
        ASSERT_EQ(a.status._length, 1u);
        EXPECT_EQ(a.header.stamp.sec, 3);
        EXPECT_EQ(a.header.stamp.nanosec, 1u);
        const auto& s = a.status._buffer[0];
        EXPECT_EQ(s.level, static_cast<std::uint8_t>(c.expected)) << c.message;
        EXPECT_STREQ(s.message, c.message);
        EXPECT_STREQ(s.name, "vorex-bridge: s1005");
        EXPECT_STREQ(s.hardware_id, "vorex_s1005");
        std::map<std::string, std::string> values;
        for (std::uint32_t i = 0; i < s.values._length; ++i) values[s.values._buffer[i].key] = s.values._buffer[i].value;
        EXPECT_EQ(values, (std::map<std::string, std::string>{{"profiles_per_second", "500.0"},
                                                              {"profiles", "12345"},
                                                              {"malformed", "2"},
                                                              {"kernel_drops", "7"},
                                                              {"connected", c.connected ? "true" : "false"},
                                                              {"stale", c.stale},
                                                              {"last_error", c.error}}));
    }
    h.kernel_drops = -1;
    health_status status;
    status.fill(h, now, false);
    EXPECT_EQ(status.value("kernel_drops"), "unknown");
}

}  // namespace
