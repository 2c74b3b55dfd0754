// Profiles and the image from the realistic simulated sensor, end to end on
// loopback.
#include <cmath>
#include <cstring>

#include "data_support.h"
#include "sim/profile_scene.h"

namespace vorex_test {
namespace {

namespace scene = vorex_sim::scene;

vorex_sim::device_config with_packet_size(std::int32_t size) {
    vorex_sim::device_config c;
    c.image_packet_size = size;
    return c;
}

class sim_image_test : public sim_test, public ::testing::WithParamInterface<std::int32_t> {
protected:
    sim_image_test() : sim_test(with_packet_size(GetParam())) {}
};

TEST_P(sim_image_test, whole_image_arrives_with_one_acknowledgement_per_asking_datagram) {
    std::vector<std::uint8_t> image(vorex_wire::image_size, 0);
    const std::uint16_t before = vorex_session_access::counter(*session);
    for (int round = 0; round < 2; ++round) {  // a second transfer starts afresh
        SCOPED_TRACE(round);
        std::fill(image.begin(), image.end(), 0);
        sim->service(0).clear_wire();
        ASSERT_TRUE(session->get_image(image.data()));
        EXPECT_TRUE(image == vorex_sim::synthetic_image());

        // The request, the answer's acknowledgement, then one per chunk but
        // the first, which does not ask.
        const std::size_t payload = GetParam() == 0 ? 32754 : static_cast<std::size_t>(GetParam());
        const std::size_t chunks = (vorex_wire::image_size + payload - 5) / (payload - 4);
        const std::size_t expected = 1 + 1 + (chunks - 1);
        sim->service(0).wait_for(expected, 1s);  // the last acknowledgement may still be in flight
        std::this_thread::sleep_for(std::chrono::milliseconds(test_timeout_ms));
        auto w = sim->service(0).wire();
        ASSERT_EQ(w.size(), expected);
        EXPECT_EQ(w[0].data.size(), 15u);
        for (std::size_t k = 1; k < w.size(); ++k) {
            ASSERT_EQ(w[k].data.size(), 14u);
            EXPECT_EQ(w[k].data[0], 0x24);
            EXPECT_EQ(w[k].data[10], 0x53);
        }
    }
    EXPECT_EQ(vorex_session_access::counter(*session), static_cast<std::uint16_t>(before + 2));
}

INSTANTIATE_TEST_SUITE_P(packet_sizes, sim_image_test, ::testing::Values(1400, 0, 1000, 9000));

TEST(synthetic_image, is_a_gradient_with_an_inverted_disc_and_a_corner_square) {
    const auto& image = vorex_sim::synthetic_image();
    ASSERT_EQ(image.size(), vorex_wire::image_size);
    auto at = [&](std::size_t x, std::size_t y) { return image[y * 648 + x]; };
    EXPECT_EQ(at(0, 0), 0);
    EXPECT_EQ(at(647, 0), 255);
    EXPECT_EQ(at(647, 487), 255);
    EXPECT_EQ(at(100, 400), 100 * 255 / 647);
    EXPECT_EQ(at(30, 30), 255);                 // the corner square
    EXPECT_EQ(at(324, 244), 255 - 324 * 255 / 647);  // inside the disc
    EXPECT_EQ(at(324, 244 - 121), 324 * 255 / 647);  // just above it
}

class sim_profile_test : public sim_test, public ::testing::WithParamInterface<int> {
protected:
    // Takes the next profile of the simulated stream.
    bool next_profile() {
        for (int tries = 0; tries < 50; ++tries)
            if (session->get_result(profile)) return true;
        return false;
    }
    std::uint32_t sequence() const {
        return vorex_wire::load_u32_le(reinterpret_cast<const std::uint8_t*>(&profile.header) + scene::at_sequence);
    }

    vorex_profile profile;
};

// What the stream delivers is exactly the datagram the scene made, decoded.
TEST_P(sim_profile_test, streamed_profiles_decode_to_the_scene) {
    const int type = GetParam();
    sim->start_stream(0, {type, 500.0, {loopback, session->info().data_port}});
    for (int n = 0; n < 3; ++n) {
        ASSERT_TRUE(next_profile()) << session->error_msg();
        EXPECT_EQ(profile.header.data_type, type);
        const bytes sent = vorex_sim::make_profile(type, sequence());
        EXPECT_EQ(std::memcmp(&profile.header, sent.data(), 64), 0);

        const bool pairs = type == 17 || type == 19;
        const int count = (type == 16 || type == 17) ? 648 : 1296;
        ASSERT_EQ(profile.raw_values.size(), static_cast<std::size_t>(count));
        std::size_t measured = 0;
        for (int i = 0; i < count; ++i) {
            const double x = vorex_sim::point_x(i, count);
            if (!vorex_sim::scene_measured(i, x, sequence())) continue;
            ASSERT_LT(measured, profile.points.size());
            const vorex_point_t& p = profile.points[measured++];
            const double truth = vorex_sim::scene_distance(x, sequence());
            if (pairs) {
                EXPECT_NEAR(p.x, x, 0.0125 + 1e-9);
            } else {
                EXPECT_EQ(p.x, i);
                EXPECT_EQ(profile.raw_values[static_cast<std::size_t>(i)], std::lround(truth * 50));
            }
            EXPECT_NEAR(p.z, truth, 0.01 + 1e-9) << i;
        }
        EXPECT_EQ(profile.points.size(), measured);
        EXPECT_LT(measured, static_cast<std::size_t>(count));  // the shadow and the dropouts show
    }
    sim->stop_streams();
}

INSTANTIATE_TEST_SUITE_P(data_types, sim_profile_test, ::testing::Values(16, 17, 18, 19));

TEST(profile_scene, box_moves_over_the_plane_and_casts_a_shadow) {
    // Over a quarter swing the box travels its full amplitude.
    EXPECT_NEAR(vorex_sim::box_centre(0), 0.0, 1e-9);
    EXPECT_NEAR(vorex_sim::box_centre(scene::box_period / 4), scene::box_travel, 1e-9);
    const std::uint32_t seq = scene::box_period / 4;
    const double centre = vorex_sim::box_centre(seq);
    EXPECT_EQ(vorex_sim::scene_distance(centre, seq), scene::plane_distance - scene::box_height);
    EXPECT_NEAR(vorex_sim::scene_distance(0, seq), scene::plane_distance, 1e-9);
    EXPECT_LT(vorex_sim::scene_distance(scene::pipe_centre, seq), scene::plane_distance - scene::pipe_radius + 2);
    EXPECT_FALSE(vorex_sim::scene_measured(0, centre + scene::box_width / 2 + 1, seq));
}

}  // namespace
}  // namespace vorex_test
