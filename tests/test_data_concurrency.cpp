// Profile reception runs while a long image transfer holds service_lock on
// another thread.
#include <algorithm>
#include <atomic>
#include <mutex>

#include "data_support.h"

namespace vorex_test {
namespace {

using data_concurrency_test = scripted_test;

TEST_F(data_concurrency_test, get_result_runs_while_get_image_holds_the_service_lock) {
    // A slow sensor: each of 12 chunks follows the previous acknowledgement
    // after 25 ms, well inside one receive timeout, so the transfer lasts
    // about 300 ms with service_lock held throughout. The sockets get a
    // long timeout: with the tests' short one a loaded machine could let
    // the gap between two chunks outlast it and end the image early.
    vorex_test_seam::set_receive_timeout_ms(2000);
    ASSERT_TRUE(session->connect());
    constexpr std::size_t chunk = 1396;
    constexpr int chunks = 12;
    auto sent = std::make_shared<std::atomic<int>>(0);
    sensor->set_handler([sent](const vorex_sim::datagram& d, vorex_sim::udp_endpoint& ep) {
        const int k = (*sent)++;
        const auto delay = std::chrono::milliseconds(25);
        if (k == 0) {
            bytes answer = header_bytes(0x1C, 1, 0, 0x53, 0x10, 0);
            answer.resize(20, 0);
            ep.send(answer, d.from, delay);
            return;
        }
        if (k > chunks) return;
        // Before any chunk an asking datagram would count as the answer, so
        // the chunk at 0 goes first without asking.
        if (k == 1) ep.send(image_datagram(0x14, 1, 0, chunk), d.from, delay);
        const std::uint32_t offset = k == chunks ? vorex_wire::image_size - chunk : static_cast<std::uint32_t>(k * chunk);
        ep.send(image_datagram(0x1C, 1, offset, chunk), d.from, delay);
    });

    std::vector<std::uint8_t> image(vorex_wire::image_size, 0);
    std::atomic<bool> image_done{false};
    bool image_result = false;
    std::thread transfer([&] {
        image_result = session->get_image(image.data());
        image_done = true;
    });

    loopback_sender profiles(session->info().data_port);
    vorex_profile profile;
    int while_held = 0;
    for (int n = 0; n < 1000 && !image_done; ++n) {
        bytes d = profile_datagram(16, 0, 0, 1);
        set_value(d, 0, static_cast<std::uint16_t>(n + 1));
        ASSERT_TRUE(profiles.send(d));
        // The image thread holds service_lock both before and after this
        // call, so the call ran inside the transfer.
        const bool held_before = !vorex_core::service_lock().try_lock();
        if (!held_before) vorex_core::service_lock().unlock();
        const bool received = session->get_result(profile);
        const bool held_after = !vorex_core::service_lock().try_lock();
        if (!held_after) vorex_core::service_lock().unlock();
        ASSERT_TRUE(received);
        EXPECT_EQ(profile.raw_values[0], n + 1);
        if (held_before && held_after) ++while_held;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    transfer.join();
    EXPECT_TRUE(image_result);
    EXPECT_GE(while_held, 5);
    for (int k = 0; k < chunks; ++k)
        EXPECT_EQ(image[static_cast<std::size_t>(k) * chunk], image_byte(static_cast<std::size_t>(k) * chunk)) << k;
}

TEST_F(data_concurrency_test, get_result_callers_on_two_threads_share_the_stream) {
    // data_lock serialises them: every datagram is taken exactly once.
    constexpr int per_thread = 200;
    loopback_sender profiles(session->info().data_port);
    std::atomic<int> taken{0};
    std::vector<int> seen(2 * per_thread, 0);
    std::mutex seen_lock;
    auto reader = [&] {
        vorex_profile profile;
        for (int misses = 0; misses < 25 && taken < 2 * per_thread;) {
            if (!session->get_result(profile)) {
                ++misses;
                continue;
            }
            ++taken;
            std::lock_guard<std::mutex> guard(seen_lock);
            ++seen[profile.raw_values[0] - 1];
        }
    };
    std::thread a(reader), b(reader);
    for (int n = 0; n < 2 * per_thread; ++n) {
        bytes d = profile_datagram(18, 0, 0, 1);
        set_value(d, 0, static_cast<std::uint16_t>(n + 1));
        ASSERT_TRUE(profiles.send(d));
        // A few in flight at most, so none is lost to a full socket buffer
        // however slowly the readers run (under a sanitizer, say).
        for (int wait = 0; wait < 1000 && n + 1 - taken > 8; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    a.join();
    b.join();
    EXPECT_EQ(taken, 2 * per_thread);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 2 * per_thread);
}

}  // namespace
}  // namespace vorex_test
