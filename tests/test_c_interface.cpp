// What the C interface decides itself: refusals of null handles, null
// pointers and short buffers, the group index, profile capacities, handle
// and list lifetime, and the progress callback. The operations themselves
// are the class's, tested through it.
#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#include "maintenance_support.h"
#include "support/test_support.h"
#include "vorex_c.h"

namespace vorex_test {
namespace {

using vorex_sim::udp_endpoint;

const vorex_c_device_info_t* c_record(const vorex_device_info_t& info) {
    return reinterpret_cast<const vorex_c_device_info_t*>(&info);
}

// A simulated sensor on loopback and a connected C handle to it.
class c_interface_test : public library_test {
protected:
    c_interface_test() {
        vorex_sim::device_config config;
        config.data_port = free_port();
        config.commit_delay = std::chrono::milliseconds(0);
        sim = std::make_unique<vorex_sim::sensor_sim>(std::vector<vorex_sim::device_config>{config});
        const vorex_device_info_t info = sim->record(0);
        handle = vorex_c_open(c_record(info), 7);
        EXPECT_TRUE(vorex_c_connect(handle));
    }
    ~c_interface_test() override {
        vorex_c_free_session(handle);
        sim.reset();
    }

    // Sends one datagram to the handle's data socket: it stands in the
    // queue before the next receive.
    void push_profile(const bytes& datagram) {
        udp_endpoint sender({loopback, 0});
        sender.send(datagram, {loopback, sim->device(0).config().data_port});
    }

    std::unique_ptr<vorex_sim::sensor_sim> sim;
    vorex_c_session* handle = nullptr;
};

// A type 16 profile: scale divisor 4, the given samples first, zeros after.
bytes single_value_profile(const std::vector<std::uint16_t>& samples) {
    bytes d(1360, 0);
    d[0] = 16;
    d[32] = 4;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        d[64 + 2 * i] = static_cast<std::uint8_t>(samples[i]);
        d[65 + 2 * i] = static_cast<std::uint8_t>(samples[i] >> 8);
    }
    return d;
}

TEST_F(c_interface_test, null_handles_pointers_and_short_buffers_are_refused_without_traffic) {
    // A failure text of the class's, which no refusal may reset.
    push_profile(bytes(64, 15));
    vorex_c_profile_header_t header{};
    std::vector<vorex_c_point_t> points(VOREX_C_MAX_POINTS);
    std::size_t count = 99;
    EXPECT_EQ(vorex_c_get_result(handle, &header, points.data(), points.size(), &count, nullptr, 0, nullptr), 0);
    EXPECT_EQ(count, 0u);
    ASSERT_STREQ(vorex_c_error_msg(handle), "Malformed packet");

    vorex_c_user_params_t block{};
    std::vector<unsigned char> image(VOREX_C_IMAGE_SIZE);
    vorex_c_log_record_t records[1];
    std::uint8_t laser[36];
    const std::vector<std::pair<const char*, std::function<bool()>>> refusals = {
        {"connect", [] { return vorex_c_connect(nullptr) == 0; }},
        {"read_params", [&] { return vorex_c_read_params(nullptr, &block) == 0; }},
        {"write_params", [&] { return vorex_c_write_params(nullptr, &block) == 0; }},
        {"flush_params", [] { return vorex_c_flush_params(nullptr) == 0; }},
        {"reset_params", [] { return vorex_c_reset_params(nullptr) == 0; }},
        {"reboot", [] { return vorex_c_reboot(nullptr) == 0; }},
        {"read_group handle", [&] { return vorex_c_read_group(nullptr, VOREX_C_LASER, laser, sizeof laser) == 0; }},
        {"write_group handle", [&] { return vorex_c_write_group(nullptr, VOREX_C_LASER, laser, sizeof laser) == 0; }},
        {"read_group -1", [&] { return vorex_c_read_group(handle, -1, laser, sizeof laser) == 0; }},
        {"write_group 11", [&] { return vorex_c_write_group(handle, VOREX_C_GROUP_COUNT, nullptr, 0) == 0; }},
        {"read_group short", [&] { return vorex_c_read_group(handle, VOREX_C_LASER, laser, sizeof laser - 1) == 0; }},
        {"write_group short", [&] { return vorex_c_write_group(handle, VOREX_C_LASER, laser, sizeof laser - 1) == 0; }},
        {"get_result handle",
         [&] { return vorex_c_get_result(nullptr, &header, points.data(), 1, &count, nullptr, 0, nullptr) == 0; }},
        {"get_result header",
         [&] { return vorex_c_get_result(handle, nullptr, points.data(), 1, &count, nullptr, 0, nullptr) == 0; }},
        {"get_result points",
         [&] { return vorex_c_get_result(handle, &header, nullptr, 1, &count, nullptr, 0, nullptr) == 0; }},
        {"get_result count",
         [&] { return vorex_c_get_result(handle, &header, points.data(), 1, nullptr, nullptr, 0, nullptr) == 0; }},
        {"get_image handle", [&] { return vorex_c_get_image(nullptr, image.data(), image.size()) == 0; }},
        {"get_image buffer", [&] { return vorex_c_get_image(handle, nullptr, image.size()) == 0; }},
        {"get_image short", [&] { return vorex_c_get_image(handle, image.data(), image.size() - 1) == 0; }},
        {"firmware handle", [] { return vorex_c_write_firmware_image(nullptr, "x", nullptr, nullptr) == 0; }},
        {"firmware path", [&] { return vorex_c_write_firmware_image(handle, nullptr, nullptr, nullptr) == 0; }},
        {"flush_firmware", [] { return vorex_c_flush_firmware_image(nullptr) == 0; }},
        {"read_log handle", [&] { return vorex_c_read_log(nullptr, 0, records, 1) == 0; }},
        {"read_log records", [&] { return vorex_c_read_log(handle, 0, nullptr, 1) == 0; }},
        {"read_log_record_count", [] { return vorex_c_read_log_record_count(nullptr) == 0; }},
        {"read_log_record_count_checked handle",
         [] {
             unsigned int untouched = 5;
             return vorex_c_read_log_record_count_checked(nullptr, &untouched) == 0 && untouched == 5;
         }},
        {"read_log_record_count_checked count", [&] { return vorex_c_read_log_record_count_checked(handle, nullptr) == 0; }},
        {"info", [] { return vorex_c_info(nullptr) == nullptr; }},
        {"params", [] { return vorex_c_params(nullptr) == nullptr; }},
        {"error_msg", [] { return vorex_c_error_msg(nullptr) == nullptr; }},
        {"open", [] { return vorex_c_open(nullptr, 0) == nullptr; }},
        {"share", [] { return vorex_c_share(nullptr) == nullptr; }},
        {"list_count", [] { return vorex_c_list_count(nullptr) == 0; }},
        {"list_session", [] { return vorex_c_list_session(nullptr, 0) == nullptr; }},
        {"group_size", [] { return vorex_c_group_size(-1) == 0 && vorex_c_group_size(VOREX_C_GROUP_COUNT) == 0; }},
    };
    for (const auto& [name, refused] : refusals) EXPECT_TRUE(refused()) << name;
    vorex_c_disconnect(nullptr);
    vorex_c_free_session(nullptr);
    vorex_c_free_list(nullptr);

    EXPECT_STREQ(vorex_c_error_msg(handle), "Malformed packet");
    EXPECT_EQ(sim->service(0).wire_size(), 0u);
}

// Each index reaches its own group: the bytes written land at that group's
// place in the sensor's block, and a read without a record fills that
// place of the cache.
TEST_F(c_interface_test, group_index_selects_the_group_of_that_place_in_the_block) {
    const vorex_c_user_params_t layout{};
    const std::vector<std::pair<std::size_t, std::size_t>> places = {
        {offsetof(vorex_c_user_params_t, general), sizeof layout.general},
        {offsetof(vorex_c_user_params_t, sysmon), sizeof layout.sysmon},
        {offsetof(vorex_c_user_params_t, tavikcompat), sizeof layout.tavikcompat},
        {offsetof(vorex_c_user_params_t, sensor), sizeof layout.sensor},
        {offsetof(vorex_c_user_params_t, roi), sizeof layout.roi},
        {offsetof(vorex_c_user_params_t, network), sizeof layout.network},
        {offsetof(vorex_c_user_params_t, stream), sizeof layout.stream},
        {offsetof(vorex_c_user_params_t, image_processing), sizeof layout.image_processing},
        {offsetof(vorex_c_user_params_t, laser), sizeof layout.laser},
        {offsetof(vorex_c_user_params_t, inputs), sizeof layout.inputs},
        {offsetof(vorex_c_user_params_t, outputs), sizeof layout.outputs},
    };
    ASSERT_EQ(places.size(), std::size_t{VOREX_C_GROUP_COUNT});
    for (int group = 0; group < VOREX_C_GROUP_COUNT; ++group) {
        SCOPED_TRACE(group);
        const auto [offset, size] = places[static_cast<std::size_t>(group)];
        ASSERT_EQ(vorex_c_group_size(group), size);
        // One byte more than the group: the layer takes the group's size.
        bytes written(size + 1, static_cast<std::uint8_t>(0xA0 + group));
        ASSERT_TRUE(vorex_c_write_group(handle, group, written.data(), written.size()));
        const vorex_user_params_t device = sim->device(0).parameters();
        const auto* block = reinterpret_cast<const std::uint8_t*>(&device);
        EXPECT_EQ(bytes(block + offset, block + offset + size), bytes(written.begin(), written.end() - 1));

        std::memset(vorex_c_params(handle), 0, sizeof(vorex_c_user_params_t));
        ASSERT_TRUE(vorex_c_read_group(handle, group, nullptr, 0));
        const auto* cache = reinterpret_cast<const std::uint8_t*>(vorex_c_params(handle));
        EXPECT_EQ(bytes(cache + offset, cache + offset + size), bytes(block + offset, block + offset + size));
        EXPECT_EQ(static_cast<std::size_t>(std::count(cache, cache + sizeof(vorex_c_user_params_t), 0)),
                  sizeof(vorex_c_user_params_t) - size);
    }
}

// Too small a buffer fails and says what the profile needed; a profile that
// fits arrives whole, raw values only when asked for.
TEST_F(c_interface_test, profile_capacities_report_what_the_profile_needs) {
    const bytes datagram = single_value_profile({0, 8, 0, 6, 2});
    vorex_c_profile_header_t header{};
    std::vector<vorex_c_point_t> points(4, vorex_c_point_t{-1, -1});
    std::vector<std::uint16_t> raw(648, 0xFFFF);
    std::size_t point_count = 0;
    std::size_t raw_count = 0;
    struct attempt {
        std::size_t point_capacity;
        std::uint16_t* raw_values;
        std::size_t raw_capacity;
        int result;
    };
    const std::vector<attempt> attempts = {
        {2, nullptr, 0, 0},          // three points do not fit in two
        {3, raw.data(), 647, 0},     // 648 raw values do not fit in 647
        {3, nullptr, 0, 1},          // raw values not wanted
        {3, raw.data(), 648, 1},
    };
    for (const attempt& a : attempts) {
        SCOPED_TRACE(a.point_capacity * 1000 + a.raw_capacity);
        push_profile(datagram);
        EXPECT_EQ(vorex_c_get_result(handle, &header, points.data(), a.point_capacity, &point_count, a.raw_values,
                                     a.raw_capacity, &raw_count),
                  a.result);
        EXPECT_EQ(point_count, 3u);
        EXPECT_EQ(raw_count, 648u);
        EXPECT_EQ(header.data_type, a.result ? 16 : 0) << "a header only for a profile that fits";
        if (!a.result) {
            EXPECT_EQ(points[0].x, -1.0) << "no points for a profile that does not fit";
        }
        if (a.raw_values) {
            EXPECT_EQ(raw[1], a.result ? 8 : 0xFFFF);
        }
    }
    EXPECT_EQ(points[0].x, 1.0);
    EXPECT_EQ(points[0].z, 2.0);
    EXPECT_EQ(points[2].x, 4.0);
    EXPECT_EQ(points[2].z, 0.5);
    EXPECT_EQ(points[3].x, -1.0) << "nothing written past the points";
    EXPECT_EQ(raw[3], 6);
    EXPECT_EQ(raw[5], 0);
}

// A second handle shares the session: freeing the first leaves it
// connected and working; the last one closes its sockets.
TEST_F(c_interface_test, shared_handle_outlives_the_first_and_the_last_closes_the_sockets) {
    const int open_with_session = open_descriptors();
    vorex_c_session* second = vorex_c_share(handle);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(vorex_c_info(second), vorex_c_info(handle)) << "the same session, not a copy";
    vorex_c_free_session(handle);
    handle = nullptr;
    EXPECT_EQ(open_descriptors(), open_with_session);
    EXPECT_TRUE(vorex_c_flush_params(second));
    vorex_c_free_session(second);
    EXPECT_EQ(open_descriptors(), open_with_session - 2);
}

void record_progress(std::uint64_t done, std::uint64_t total, void* context) {
    static_cast<std::vector<std::pair<std::uint64_t, std::uint64_t>>*>(context)->emplace_back(done, total);
}

TEST_F(c_interface_test, progress_reaches_the_callback_with_its_context) {
    temp_dir dir;
    const bytes image = firmware_pattern(5000);
    const std::string path = dir.write("image.bin", image);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    ASSERT_TRUE(vorex_c_write_firmware_image(handle, path.c_str(), record_progress, &calls));
    ASSERT_FALSE(calls.empty());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].second, 5000u);
        if (i > 0) {
            EXPECT_GT(calls[i].first, calls[i - 1].first);
        }
    }
    EXPECT_EQ(calls.back().first, 5000u);
    // Without a callback the same upload runs through the plain overload.
    ASSERT_TRUE(vorex_c_write_firmware_image(handle, path.c_str(), nullptr, &calls));
    EXPECT_EQ(sim->device(0).firmware().received, 5000u);
    EXPECT_TRUE(vorex_c_flush_firmware_image(handle));
}

// The list owns its handles: freeing one of them alone is ignored, and a
// shared handle keeps its session after the list is gone. In a private
// network, since it searches.
class c_interface_discovery : public ::testing::Test {
protected:
    void TearDown() override {
        if (initialised) vorex_c_cleanup();
        expect_descriptors_as_before(descriptors_before);
    }
    const int descriptors_before = open_descriptors();
    bool initialised = false;
};

TEST_F(c_interface_discovery, list_owns_its_handles_and_a_shared_one_outlives_it) {
    ASSERT_TRUE(enter_private_network(two_veth_adapters()));
    ASSERT_TRUE(wait_for_adapters(3));
    vorex_test_seam::set_receive_timeout_ms(test_timeout_ms);
    ASSERT_TRUE(vorex_c_init());
    initialised = true;
    std::vector<vorex_sim::device_config> configs(2);
    configs[0].serial = 4242;
    configs[0].ip_address = ipv4("198.18.0.1");
    configs[1].serial = 4243;
    configs[1].ip_address = ipv4("198.18.1.1");
    configs[1].mac[5] = 2;  // a sensor of its own, not the first one again
    for (vorex_sim::device_config& c : configs) c.subnet_mask = ipv4("255.255.255.0");
    vorex_sim::sensor_sim sim(configs, true);

    int done = 0;
    vorex_c_session_list* list = vorex_c_search(&done);
    EXPECT_EQ(done, 1);
    ASSERT_EQ(vorex_c_list_count(list), 2u);
    EXPECT_EQ(vorex_c_list_session(list, 2), nullptr);
    vorex_c_session* first = vorex_c_list_session(list, 0);
    const std::uint32_t first_serial = vorex_c_info(first)->serial;
    vorex_c_free_session(first);  // the list's: ignored (under ASan, a use after free below if not)
    EXPECT_EQ(std::uint32_t{vorex_c_info(first)->serial}, first_serial);
    vorex_c_session* kept = vorex_c_share(vorex_c_list_session(list, 1));
    vorex_c_free_list(list);

    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(first_serial + vorex_c_info(kept)->serial, 4242u + 4243u) << "both sensors, once each";
    ASSERT_TRUE(vorex_c_connect(kept));
    EXPECT_TRUE(vorex_c_flush_params(kept));
    vorex_c_free_session(kept);
}

}  // namespace
}  // namespace vorex_test
