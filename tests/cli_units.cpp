// vorexctl's own logic, called directly: sensor selection, addresses, hex
// dumps, output lines, progress lines, plot layout and picture files.
#include <gtest/gtest.h>

#include <png.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "format.h"
#include "hexdump.h"
#include "picture.h"
#include "plot.h"
#include "progress.h"
#include "select.h"

namespace vorexctl {
namespace {

std::uint32_t address(const char* text) {
    std::uint32_t a = 0;
    EXPECT_TRUE(parse_dotted(text, &a)) << text;
    return a;
}

vorex_device_info_t record(std::uint32_t serial, const char* ip, std::uint8_t mac_last) {
    vorex_device_info_t r{};
    r.serial = serial;
    r.ip_address = address(ip);
    r.subnet_mask = address("255.255.255.0");
    r.service_port = 50030;
    r.data_port = 50020;
    const std::uint8_t mac[6] = {0x02, 0x56, 0x58, 0x00, 0x00, mac_last};
    std::memcpy(r.mac_address, mac, 6);
    r.image_packet_size = 1400;
    return r;
}

// --- Selection -------------------------------------------------------------

struct selection_case {
    const char* name;
    std::vector<vorex_device_info_t> found;
    selector wanted;
    int index;
    const char* error;
};

selector by_serial(std::uint32_t s) {
    selector w;
    w.serial = s;
    return w;
}
selector by_ip(const char* ip) {
    selector w;
    w.ip = address(ip);
    return w;
}
selector by_mac(std::uint8_t last) {
    selector w;
    w.mac = mac_address{{0x02, 0x56, 0x58, 0x00, 0x00, last}};
    return w;
}

TEST(cli_selection, picks_exactly_one_sensor_or_says_why_not) {
    // Two sensors share serial 2 (one serial, two MACs happens when a
    // sensor is replaced by a spare programmed alike).
    const std::vector<vorex_device_info_t> three = {record(1, "10.0.0.1", 1), record(2, "10.0.0.2", 2),
                                                    record(2, "10.0.0.3", 3)};
    selector serial_and_mac = by_serial(2);
    serial_and_mac.mac = by_mac(3).mac;
    selector serial_and_wrong_ip = by_serial(1);
    serial_and_wrong_ip.ip = address("10.0.0.2");
    const selection_case cases[] = {
        {"none found", {}, {}, -1, "no sensor found"},
        {"none found, with a choice", {}, by_serial(1), -1, "no sensor found"},
        {"the only one", {record(7, "10.0.0.9", 9)}, {}, 0, ""},
        {"several, no choice", three, {}, -1,
         "3 found (1 at 10.0.0.1, 2 at 10.0.0.2, 2 at 10.0.0.3); choose one with --serial, --ip or --mac"},
        {"by serial", three, by_serial(1), 0, ""},
        {"by ip", three, by_ip("10.0.0.3"), 2, ""},
        {"by mac", three, by_mac(2), 1, ""},
        {"serial and mac together", three, serial_and_mac, 2, ""},
        {"a serial two share", three, by_serial(2), -1,
         "2 sensors match serial 2 (2 at 10.0.0.2, 2 at 10.0.0.3); narrow the choice with --serial, --ip or --mac"},
        {"unknown serial", three, by_serial(9), -1, "no sensor with serial 9 (3 found)"},
        {"unknown mac", three, by_mac(0xAB), -1, "no sensor with MAC 02:56:58:00:00:ab (3 found)"},
        {"criteria that disagree", three, serial_and_wrong_ip, -1,
         "no sensor with serial 1, IP 10.0.0.2 (3 found)"},
    };
    for (const selection_case& c : cases) {
        const selection s = select_sensor(c.found, c.wanted);
        EXPECT_EQ(s.index, c.index) << c.name;
        EXPECT_EQ(s.error, c.error) << c.name;
    }
}

// --- Addresses ---------------------------------------------------------------

TEST(cli_addresses, dotted_text_is_in_wire_order_and_strict) {
    std::uint32_t a = 0;
    ASSERT_TRUE(parse_dotted("198.18.1.2", &a));
    const auto* b = reinterpret_cast<const std::uint8_t*>(&a);
    EXPECT_EQ(b[0], 198);  // first octet first in memory, as the device record holds it
    EXPECT_EQ(b[3], 2);
    EXPECT_EQ(dotted(a), "198.18.1.2");
    EXPECT_EQ(dotted(0xFFFFFFFF), "255.255.255.255");
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1.2.3.4 ", " 1.2.3.4", "1..3.4", "a.b.c.d",
                            "1.2.3.-4", "1.2.3.0004"}) {
        std::uint32_t untouched = 77;
        EXPECT_FALSE(parse_dotted(bad, &untouched)) << bad;
        EXPECT_EQ(untouched, 77u) << bad;
    }
}

TEST(cli_addresses, mac_text_round_trips_with_either_separator) {
    mac_address m{};
    ASSERT_TRUE(parse_mac("02:56:58:0A:bc:FF", &m));
    EXPECT_EQ(m, (mac_address{{0x02, 0x56, 0x58, 0x0A, 0xBC, 0xFF}}));
    EXPECT_EQ(mac_text(m.data()), "02:56:58:0a:bc:ff");
    ASSERT_TRUE(parse_mac("02-56-58-00-00-01", &m));
    EXPECT_EQ(m[5], 0x01);
    for (const char* bad : {"", "02:56:58:00:00", "02:56:58:00:00:01:02", "02:56:58:00:00:0g", "0256:58:00:00:01:",
                            "02:56:58:00:00:1"})
        EXPECT_FALSE(parse_mac(bad, &m)) << bad;
}

// --- Hex dumps -----------------------------------------------------------------

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + 41);
    return out;
}

TEST(cli_hexdump, writes_sixteen_bytes_a_line_behind_the_offset) {
    const auto bytes = pattern(18);
    EXPECT_EQ(hex_dump(bytes.data(), bytes.size()),
              "0000: 29 30 37 3e 45 4c 53 5a 61 68 6f 76 7d 84 8b 92\n"
              "0010: 99 a0\n");
    EXPECT_EQ(hex_dump(bytes.data(), 0), "");
}

TEST(cli_hexdump, round_trips_every_group_size_and_the_block) {
    for (std::size_t size : {1u, 15u, 16u, 17u, 35u, 82u, 192u, 345u, 1400u}) {
        const auto bytes = pattern(size);
        std::vector<std::uint8_t> back;
        std::string error;
        ASSERT_TRUE(parse_hex_dump(hex_dump(bytes.data(), size), &back, &error)) << size << ": " << error;
        EXPECT_EQ(back, bytes) << size;
    }
}

TEST(cli_hexdump, accepts_hand_written_forms) {
    const struct {
        const char* text;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"01 02 ff", {0x01, 0x02, 0xFF}},
        {"0102FF\n", {0x01, 0x02, 0xFF}},
        {"# a comment\n00: 0a 0B  # tail\n2: 0c\r\n", {0x0A, 0x0B, 0x0C}},
        {"\t01\n\n02\n", {0x01, 0x02}},
        {"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> back;
        std::string error;
        EXPECT_TRUE(parse_hex_dump(c.text, &back, &error)) << c.text << ": " << error;
        EXPECT_EQ(back, c.bytes) << c.text;
    }
}

TEST(cli_hexdump, refuses_broken_input_and_names_the_line) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"01 2", "line 1: expected a pair of hex digits at column 4"},
        {"0000: 01 zz", "line 1: expected a pair of hex digits at column 10"},
        {"0000: 01 02\n0010: 03", "line 2: offset 0010 does not follow the 2 bytes before it"},
        {"0000: 01\n0000: 02", "line 2: offset 0000 does not follow the 1 bytes before it"},
        {"x1: 01", "line 1: offset is not a hex number"},
        {": 01", "line 1: offset is not a hex number"},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> back = {0x55};
        std::string error;
        EXPECT_FALSE(parse_hex_dump(c.text, &back, &error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(back, std::vector<std::uint8_t>{0x55}) << "output untouched on failure";
    }
}

// --- Output lines ----------------------------------------------------------------

vorex_profile sample_profile(std::uint8_t type, std::vector<vorex_point_t> points) {
    vorex_profile p{};
    p.header.data_type = type;
    p.points = std::move(points);
    return p;
}

TEST(cli_lines, profiles_as_csv_and_json_lines) {
    const auto p = sample_profile(19, {{-100.0, 500.0}, {0.1, 15.625}, {3.0, 1e-7}});
    EXPECT_EQ(profile_csv_heading(), "profile,x,z\n");
    EXPECT_EQ(profile_csv(4, p), "4,-100,500\n4,0.1,15.625\n4,3,1e-07\n");
    EXPECT_EQ(profile_json(4, p),
              "{\"profile\":4,\"data_type\":19,\"count\":3,\"points\":[[-100,500],[0.1,15.625],[3,1e-07]]}\n");
    const auto empty = sample_profile(16, {});
    EXPECT_EQ(profile_csv(0, empty), "");
    EXPECT_EQ(profile_json(0, empty), "{\"profile\":0,\"data_type\":16,\"count\":0,\"points\":[]}\n");
}

TEST(cli_lines, coordinates_round_trip_exactly_and_json_stays_valid_for_infinities) {
    const double awkward = 1.0 / 3.0;
    EXPECT_EQ(std::stod(number_text(awkward)), awkward);
    const double inf = std::numeric_limits<double>::infinity();
    const auto p = sample_profile(17, {{inf, std::nan("")}});
    EXPECT_EQ(profile_json(1, p), "{\"profile\":1,\"data_type\":17,\"count\":1,\"points\":[[null,null]]}\n");
    EXPECT_EQ(profile_csv(1, p), "1,inf,nan\n");
}

TEST(cli_lines, sensors_as_table_and_json) {
    const std::vector<vorex_device_info_t> two = {record(1001, "198.18.1.1", 0x10), record(4294967295u, "10.0.0.2", 2)};
    EXPECT_EQ(sensor_table(two),
              "SERIAL     IP              MASK            MAC               SERVICE DATA  IMAGE-PACKET\n"
              "1001       198.18.1.1      255.255.255.0   02:56:58:00:00:10 50030   50020 1400\n"
              "4294967295 10.0.0.2        255.255.255.0   02:56:58:00:00:02 50030   50020 1400\n");
    EXPECT_EQ(sensors_json({two[0]}),
              "[{\"serial\":1001,\"ip\":\"198.18.1.1\",\"mask\":\"255.255.255.0\",\"mac\":\"02:56:58:00:00:10\","
              "\"service_port\":50030,\"data_port\":50020,\"image_packet_size\":1400}]\n");
    EXPECT_EQ(sensors_json({}), "[]\n");
}

TEST(cli_lines, log_record_as_one_hex_line) {
    vorex_log_record_t r{};
    r.bytes[0] = 0xAB;
    r.bytes[135] = 0x01;
    const std::string line = log_line(12, r);
    EXPECT_EQ(line.size(), std::string("12: ").size() + 272 + 1);
    EXPECT_EQ(line.substr(0, 6), "12: ab");
    EXPECT_EQ(line.substr(line.size() - 3), "01\n");
}

// --- Progress ---------------------------------------------------------------------

TEST(cli_progress, upload_bar_shows_bytes_rate_and_eta) {
    EXPECT_EQ(progress_line(0, 4096, 0), "[------------------------]   0%  0 B / 4.0 KiB  -- B/s  ETA --:--");
    EXPECT_EQ(progress_line(1024, 4096, 2.0), "[######------------------]  25%  1.0 KiB / 4.0 KiB  512 B/s  ETA 0:06");
    EXPECT_EQ(progress_line(3 << 20, 3 << 20, 1.5),
              "[########################] 100%  3.00 MiB / 3.00 MiB  2.00 MiB/s  ETA 0:00");
    EXPECT_EQ(progress_line(0, 0, 0), "[########################] 100%  0 B / 0 B  -- B/s  ETA --:--");
    EXPECT_EQ(duration_text(3725), "1:02:05");
    EXPECT_EQ(duration_text(59.6), "1:00");
    EXPECT_EQ(stream_status(99.95, 1295.6, 3, 1200), "100.0 profiles/s  1296 points/profile  3 malformed  (1200 received)");
}

TEST(cli_progress, scan_bar_counts_profiles_or_runs_for_its_time) {
    EXPECT_EQ(collection_line(0, 480, 0), "[------------------------]   0%  0 / 480 profiles  ETA --:--");
    EXPECT_EQ(collection_line(120, 480, 1.0), "[######------------------]  25%  120 / 480 profiles  ETA 0:03");
    EXPECT_EQ(collection_line(500, 480, 4.0), "[########################] 100%  500 / 480 profiles  ETA 0:00");
    EXPECT_EQ(collection_line(1002, 0, 5.0, 10.0), "[############------------]  50%  0:05 / 0:10  1002 profiles");
    EXPECT_EQ(collection_line(2100, 0, 10.4, 10.0), "[########################] 100%  0:10 / 0:10  2100 profiles");
}

// --- Plot ---------------------------------------------------------------------------

TEST(cli_plot, axes_take_round_steps_around_the_data) {
    const plot_axis a = axis_for(3, 97);
    EXPECT_EQ(a.step, 20);
    EXPECT_EQ(a.min, 0);
    EXPECT_EQ(a.max, 100);
    EXPECT_EQ(a.ticks, (std::vector<double>{0, 20, 40, 60, 80, 100}));
    const plot_axis small = axis_for(-0.26, 0.31);
    EXPECT_EQ(small.step, 0.1);
    EXPECT_EQ(small.ticks.size(), 8u);  // -0.3 .. 0.4
    EXPECT_EQ(tick_text(small.ticks.front(), small.step), "-0.3");
    EXPECT_EQ(tick_text(-1e-17, 0.1), "0.0");
    const plot_axis flat = axis_for(500, 500);  // one Z value still gives a visible range
    EXPECT_LT(flat.min, 500);
    EXPECT_GT(flat.max, 500);
    EXPECT_GE(flat.ticks.size(), 3u);
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(cli_plot, svg_has_one_circle_per_finite_point_and_labelled_axes) {
    std::vector<vorex_point_t> points;
    for (int i = 0; i < 50; ++i) points.push_back({i * 0.5, 100.0 + i});
    points.push_back({std::nan(""), 1});
    const std::string svg = plot_svg(points, "sensor 5 & <friends>");
    EXPECT_EQ(occurrences(svg, "<circle "), 50u);
    EXPECT_NE(svg.find(">X (mm)<"), std::string::npos);
    EXPECT_NE(svg.find(">Z (mm)<"), std::string::npos);
    EXPECT_NE(svg.find("sensor 5 &amp; &lt;friends&gt;"), std::string::npos);
    // Z grows downward: the nearest point is drawn highest. The axes
    // leave room around the data: X -5..25 and Z 90..150 here.
    const plot_layout l = layout_for(points);
    EXPECT_EQ(l.x.min, -5);
    EXPECT_EQ(l.z.min, 90);
    EXPECT_DOUBLE_EQ(l.row(l.z.min), plot_layout::top);
    EXPECT_DOUBLE_EQ(l.row(l.z.max), plot_layout::height - plot_layout::bottom);
    // The first point, (0, 100): a sixth across, a sixth down.
    EXPECT_NE(svg.find("<circle cx=\"196.00\" cy=\"106.67\""), std::string::npos) << svg.substr(svg.find("<circle"), 60);
}

TEST(cli_plot, picture_marks_each_point) {
    const std::vector<vorex_point_t> points = {{10, 10}, {20, 30}};
    const grey_image picture = plot_picture(points);
    const plot_layout l = layout_for(points);
    ASSERT_EQ(picture.width, plot_layout::width);
    ASSERT_EQ(picture.height, plot_layout::height);
    for (const vorex_point_t& p : points) {
        const int x = static_cast<int>(std::lround(l.column(p.x))), y = static_cast<int>(std::lround(l.row(p.z)));
        EXPECT_LT(picture.pixels[std::size_t(y) * picture.width + x], 100) << p.x;
    }
    EXPECT_EQ(picture.pixels[std::size_t(plot_layout::top + 5) * picture.width + plot_layout::width - 5], 255)
        << "background outside the frame stays white";
}

// --- Picture files --------------------------------------------------------------------

TEST(cli_picture, png_reads_back_as_8_bit_grey_with_the_same_pixels) {
    grey_image picture(5, 3, 0);
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = static_cast<std::uint8_t>(i * 17);
    std::vector<std::uint8_t> png;
    std::string error;
    ASSERT_TRUE(encode_png(picture, &png, &error)) << error;
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png[24], 8) << "bit depth";
    EXPECT_EQ(png[25], 0) << "colour type grey";

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
    EXPECT_EQ(image.width, 5u);
    EXPECT_EQ(image.height, 3u);
    image.format = PNG_FORMAT_GRAY;
    std::vector<std::uint8_t> back(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, back.data(), 0, nullptr));
    EXPECT_EQ(back, picture.pixels);
}

TEST(cli_picture, pgm_is_a_p5_header_and_the_rows) {
    grey_image picture(2, 2, 9);
    picture.set(1, 0, 200);
    picture.set(5, 5, 1);  // outside: ignored
    const auto pgm = encode_pgm(picture);
    EXPECT_EQ(std::string(pgm.begin(), pgm.end()), std::string("P5\n2 2\n255\n\x09\xc8\x09\x09"));
}

TEST(cli_picture, format_follows_the_extension) {
    EXPECT_EQ(kind_of("out/image.png"), file_kind::png);
    EXPECT_EQ(kind_of("IMAGE.PGM"), file_kind::pgm);
    EXPECT_EQ(kind_of("plot.Svg"), file_kind::svg);
    EXPECT_EQ(kind_of("plot.svg/x"), file_kind::other);
    EXPECT_EQ(kind_of("png"), file_kind::other);
    EXPECT_EQ(kind_of("a.jpg"), file_kind::other);
}

}  // namespace
}  // namespace vorexctl
