// Profile reception: datagrams sent to the session's data port on loopback,
// decoded by get_result.
#include <cmath>
#include <cstring>
#include <chrono>
#include <limits>
#include <thread>

#include "data_support.h"

namespace vorex_test {
namespace {

class profile_test : public scripted_test {
protected:
    profile_test() : sender(session->info().data_port) {}

    // Sends one datagram and takes it with get_result.
    bool receive(const bytes& d) {
        EXPECT_TRUE(sender.send(d));
        return session->get_result(profile);
    }

    // A record holding a known earlier profile, to show it stays untouched.
    void hold_previous_profile() {
        bytes d = profile_datagram(16, 0, 0, 1);
        set_value(d, 7, 700);
        ASSERT_TRUE(receive(d));
        previous = profile;
    }

    void expect_previous_profile_kept() const {
        EXPECT_EQ(std::memcmp(&profile.header, &previous.header, sizeof profile.header), 0);
        ASSERT_EQ(profile.points.size(), previous.points.size());
        EXPECT_EQ(profile.points[0].x, previous.points[0].x);
        EXPECT_EQ(profile.points[0].z, previous.points[0].z);
        EXPECT_EQ(profile.raw_values, previous.raw_values);
    }

    loopback_sender sender;
    vorex_profile profile;
    vorex_profile previous;
};

TEST_F(profile_test, type_16_example_gives_index_and_divided_value_and_every_raw_sample) {
    bytes d = profile_datagram(16, 0, 0, 64);
    set_value(d, 3, 1000);
    ASSERT_TRUE(receive(d));
    EXPECT_STREQ(session->error_msg(), "No error");
    ASSERT_EQ(profile.points.size(), 1u);
    EXPECT_EQ(profile.points[0].x, 3.0);
    EXPECT_EQ(profile.points[0].z, 15.625);
    ASSERT_EQ(profile.raw_values.size(), 648u);
    for (std::size_t i = 0; i < 648; ++i) EXPECT_EQ(profile.raw_values[i], i == 3 ? 1000 : 0) << i;
    EXPECT_EQ(std::memcmp(&profile.header, d.data(), 64), 0);  // the sensor's bytes unchanged
    EXPECT_EQ(profile.header.scale_divisor, 64);
}

TEST_F(profile_test, type_17_example_scales_signed_x_and_unsigned_z) {
    bytes d = profile_datagram(17, 200, 500, 16384);
    d[64] = 0x00, d[65] = 0xE0;  // X -8192
    d[66] = 0x00, d[67] = 0x40;  // Z 16384
    ASSERT_TRUE(receive(d));
    ASSERT_EQ(profile.points.size(), 1u);
    EXPECT_EQ(profile.points[0].x, -100.0);
    EXPECT_EQ(profile.points[0].z, 500.0);
    EXPECT_EQ(profile.raw_values.size(), 648u);
}

TEST_F(profile_test, x_samples_are_signed_and_z_samples_unsigned) {
    struct {
        std::uint16_t x, z;
        double want_x, want_z;
    } cases[] = {
        {0xFFFF, 0xFFFF, -1.0 * 3 / 2, 65535.0 * 5 / 2},
        {0x8000, 0x0001, -32768.0 * 3 / 2, 5.0 / 2},
        {0x7FFF, 0x8000, 32767.0 * 3 / 2, 32768.0 * 5 / 2},
        {0x0000, 0x0002, 0.0, 5.0},
    };
    bytes d = profile_datagram(17, 3, 5, 2);
    for (std::size_t i = 0; i < std::size(cases); ++i) set_pair(d, i, cases[i].x, cases[i].z);
    set_pair(d, std::size(cases), 0x1234, 0);  // X without Z: no measurement
    ASSERT_TRUE(receive(d));
    ASSERT_EQ(profile.points.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(profile.points[i].x, cases[i].want_x) << i;
        EXPECT_EQ(profile.points[i].z, cases[i].want_z) << i;
    }
}

TEST_F(profile_test, products_are_formed_in_double_before_dividing) {
    // 49 * (1 / 49) is not 1 in binary floating point: a precomputed scale
    // factor would show. 65535 * 65535 overflows 32-bit signed arithmetic.
    bytes small = profile_datagram(19, 1, 1, 49);
    set_pair(small, 0, 49, 49);
    ASSERT_TRUE(receive(small));
    ASSERT_EQ(profile.points.size(), 1u);
    EXPECT_EQ(profile.points[0].x, 1.0);
    EXPECT_EQ(profile.points[0].z, 1.0);

    bytes large = profile_datagram(19, 65535, 65535, 3);
    set_pair(large, 0, 0x8000, 0xFFFF);
    ASSERT_TRUE(receive(large));
    ASSERT_EQ(profile.points.size(), 1u);
    EXPECT_EQ(profile.points[0].x, (-32768.0 * 65535.0) / 3.0);
    EXPECT_EQ(profile.points[0].z, (65535.0 * 65535.0) / 3.0);
}

TEST_F(profile_test, all_zero_type_16_is_accepted_with_no_points_and_648_zeros) {
    ASSERT_TRUE(receive(profile_datagram(16, 0, 0, 64)));
    EXPECT_TRUE(profile.points.empty());
    EXPECT_EQ(profile.raw_values, std::vector<std::uint16_t>(648, 0));
}

TEST_F(profile_test, type_19_with_one_zero_z_closes_the_gap_in_points) {
    bytes d = profile_datagram(19, 1, 1, 1);
    for (std::size_t i = 0; i < 1296; ++i) set_pair(d, i, static_cast<std::uint16_t>(i), i == 5 ? 0 : 100);
    ASSERT_TRUE(receive(d));
    ASSERT_EQ(profile.points.size(), 1295u);
    EXPECT_EQ(profile.points[4].x, 4.0);
    EXPECT_EQ(profile.points[5].x, 6.0);
    EXPECT_EQ(profile.points[1294].x, 1295.0);
    EXPECT_EQ(profile.raw_values.size(), 1296u);
}

TEST_F(profile_test, type_18_then_17_keeps_the_first_648_raw_values_and_the_points_storage) {
    bytes d18 = profile_datagram(18, 0, 0, 1);
    for (std::size_t i = 0; i < 1296; ++i) set_value(d18, i, static_cast<std::uint16_t>(i + 1));
    ASSERT_TRUE(receive(d18));
    ASSERT_EQ(profile.points.size(), 1296u);
    const vorex_point_t* storage = profile.points.data();
    const std::size_t capacity = profile.points.capacity();

    bytes d17 = profile_datagram(17, 1, 1, 1);
    set_pair(d17, 0, 1, 1);
    ASSERT_TRUE(receive(d17));
    ASSERT_EQ(profile.raw_values.size(), 648u);
    for (std::size_t i = 0; i < 648; ++i) ASSERT_EQ(profile.raw_values[i], i + 1) << i;  // not written by type 17
    EXPECT_EQ(profile.points.size(), 1u);
    EXPECT_EQ(profile.points.data(), storage);  // emptied, not freed
    EXPECT_EQ(profile.points.capacity(), capacity);
}

TEST_F(profile_test, scale_divisor_0_follows_ieee_754) {
    const double inf = std::numeric_limits<double>::infinity();
    bytes d16 = profile_datagram(16, 0, 0, 0);
    set_value(d16, 0, 5);
    ASSERT_TRUE(receive(d16));
    ASSERT_EQ(profile.points.size(), 1u);
    EXPECT_EQ(profile.points[0].z, inf);

    bytes d17 = profile_datagram(17, 2, 0, 0);
    set_pair(d17, 0, 0xFFFF, 3);  // x = -2 / 0, z = (0 * 3) / 0
    set_pair(d17, 1, 0, 3);       // x = 0 / 0
    ASSERT_TRUE(receive(d17));
    ASSERT_EQ(profile.points.size(), 2u);
    EXPECT_EQ(profile.points[0].x, -inf);
    EXPECT_TRUE(std::isnan(profile.points[0].z));
    EXPECT_TRUE(std::isnan(profile.points[1].x));
}

TEST_F(profile_test, unknown_data_types_are_malformed_and_leave_the_record) {
    hold_previous_profile();
    for (int type : {0, 15, 20, 255}) {
        bytes d = profile_datagram(19, 1, 1, 1);
        d[0] = static_cast<std::uint8_t>(type);
        EXPECT_FALSE(receive(d)) << type;
        EXPECT_STREQ(session->error_msg(), "Malformed packet") << type;
        expect_previous_profile_kept();
    }
}

TEST_F(profile_test, datagrams_shorter_than_a_header_fail_quietly_and_leave_the_record) {
    hold_previous_profile();
    for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{63}}) {
        bytes d = profile_datagram(16, 0, 0, 1);
        d.resize(length);
        EXPECT_FALSE(receive(d)) << length;
        EXPECT_STREQ(session->error_msg(), "No error") << length;
        expect_previous_profile_kept();
    }
}

TEST_F(profile_test, datagram_shorter_than_its_type_is_refused_not_read_from_stale_bytes) {
    // A full type 19 leaves 5248 bytes in the data buffer; the short ones
    // after it must not be completed from them.
    bytes full = profile_datagram(19, 1, 1, 1);
    for (std::size_t i = 0; i < 1296; ++i) set_pair(full, i, 1, 9);
    ASSERT_TRUE(receive(full));
    previous = profile;
    struct {
        int type;
        std::size_t length;
    } cases[] = {{16, 64}, {16, 1359}, {17, 2655}, {18, 2654}, {19, 5247}, {19, 64}};
    for (auto c : cases) {
        bytes d = profile_datagram(c.type, 1, 1, 1);
        d.resize(c.length);
        EXPECT_FALSE(receive(d)) << c.type << " " << c.length;
        EXPECT_STREQ(session->error_msg(), "Malformed packet");
        expect_previous_profile_kept();
    }
}

TEST_F(profile_test, longer_datagram_is_decoded_from_its_first_bytes_up_to_the_largest_profile) {
    bytes d = profile_datagram(16, 0, 0, 1);
    set_value(d, 647, 9);
    d.resize(5248, 0xFF);  // trailing bytes past the type's size are not samples
    ASSERT_TRUE(receive(d));
    ASSERT_EQ(profile.points.size(), 1u);
    EXPECT_EQ(profile.points[0].x, 647.0);

    // Beyond the largest profile the receive itself fails: nothing is read.
    previous = profile;
    d.resize(5249);
    EXPECT_FALSE(receive(d));
    EXPECT_STREQ(session->error_msg(), "No error");
    expect_previous_profile_kept();
}

TEST_F(profile_test, success_resets_the_error_text) {
    bytes bad = profile_datagram(16, 0, 0, 1);
    bad[0] = 20;
    EXPECT_FALSE(receive(bad));
    EXPECT_STREQ(session->error_msg(), "Malformed packet");
    ASSERT_TRUE(receive(profile_datagram(18, 0, 0, 1)));
    EXPECT_STREQ(session->error_msg(), "No error");
}

TEST_F(profile_test, no_datagram_or_no_socket_is_false_with_no_error) {
    hold_previous_profile();
    EXPECT_FALSE(session->get_result(profile));
    EXPECT_STREQ(session->error_msg(), "No error");
    expect_previous_profile_kept();

    session->disconnect();
    EXPECT_FALSE(session->get_result(profile));
    EXPECT_STREQ(session->error_msg(), "No error");
    expect_previous_profile_kept();
}

TEST_F(profile_test, each_call_takes_exactly_one_datagram_in_arrival_order) {
    for (std::uint16_t v : {std::uint16_t{11}, std::uint16_t{22}, std::uint16_t{33}}) {
        bytes d = profile_datagram(16, 0, 0, 1);
        set_value(d, 0, v);
        ASSERT_TRUE(sender.send(d));
    }
    bytes bad = profile_datagram(16, 0, 0, 1);
    bad[0] = 15;
    ASSERT_TRUE(sender.send(bad));
    for (std::uint16_t v : {std::uint16_t{11}, std::uint16_t{22}, std::uint16_t{33}}) {
        ASSERT_TRUE(session->get_result(profile));
        EXPECT_EQ(profile.raw_values[0], v);
    }
    EXPECT_FALSE(session->get_result(profile));  // the refused one is consumed
    EXPECT_FALSE(session->get_result(profile));  // and nothing stands behind it
    EXPECT_STREQ(session->error_msg(), "No error");
}

// Whether this platform stamps datagrams as they arrive: Linux does, Winsock
// does not, nor does qemu-i386, which refuses the option. Linux turns
// stamping on a moment after the first socket asks, and stamps what comes
// meanwhile when it is taken; so this waits until a datagram sent to
// itself comes back stamped before it was taken.
bool arrival_stamps_on() {
    const vorex_net::handle probe = vorex_net::open_udp();
    vorex_net::endpoint self{};
    bool on = vorex_net::set_receive_timestamps(probe) && vorex_net::set_receive_timeout(probe, 1000) &&
              vorex_net::bind(probe, {loopback, 0}) && vorex_net::local_endpoint(probe, &self);
    for (int attempt = 0; on && attempt < 5000; ++attempt) {
        const char x = 'x';
        if (vorex_net::send_to(probe, &x, 1, self) != 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::int64_t taking = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count();
        char in[8];
        std::int64_t stamp = 0;
        if (vorex_net::receive_stamped(probe, in, sizeof in, &stamp) != 1) break;
        if (stamp < taking) {
            vorex_net::close(probe);
            return true;
        }
    }
    vorex_net::close(probe);
    EXPECT_FALSE(on) << "stamping was asked for and never came on";
    return false;
}

// The stamp is when the datagram arrived, not when get_result took it: two
// datagrams queued a while apart keep their own times. Without arrival
// stamps it is when the receive returned.
TEST_F(profile_test, receive_time_is_each_datagram_arrival) {
    using clock = std::chrono::system_clock;
    const bool arrival = arrival_stamps_on();
    auto sent = [&](std::uint16_t v) {
        bytes d = profile_datagram(16, 0, 0, 1);
        set_value(d, 0, v);
        const vorex_receive_time before = clock::now();
        EXPECT_TRUE(sender.send(d));
        return std::make_pair(before, vorex_receive_time(clock::now()));
    };
    const auto first = sent(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto second = sent(2);
    bytes bad = profile_datagram(16, 0, 0, 1);
    bad[0] = 15;
    ASSERT_TRUE(sender.send(bad));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const vorex_receive_time taking = clock::now();

    vorex_receive_time at[3];
    ASSERT_TRUE(session->get_result(profile, at[0]));
    ASSERT_TRUE(session->get_result(profile, at[1]));
    EXPECT_EQ(profile.raw_values[0], 2);
    EXPECT_FALSE(session->get_result(profile, at[2]));  // refused, but it came
    const vorex_receive_time untouched = at[2];
    EXPECT_FALSE(session->get_result(profile, at[2]));
    EXPECT_EQ(at[2], untouched);
    if (!arrival) {
        for (const vorex_receive_time& t : at) EXPECT_GE(t, taking);
        return;
    }
    EXPECT_GE(at[0], first.first);
    EXPECT_LE(at[0], first.second);
    EXPECT_GE(at[1], second.first);
    EXPECT_LE(at[1], second.second);
    EXPECT_GE(at[2], second.second);
    EXPECT_LE(at[2], taking);
}

}  // namespace
}  // namespace vorex_test
