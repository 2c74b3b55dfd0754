// Profile reception on loopback: get_result beside a bare receive loop on a
// socket configured the same way (opened and bound like a session's data
// socket, same receive timeout, same receive size), each fed by a sender
// process with type 19 profiles.
//
// Two measurements per receiver, each repeated:
//   flat out  - the sender sends as fast as it can; the rate is what the
//               receiver took per second, and the loss shows who keeps up;
//   paced     - a fixed offered rate (20,000 profiles/s by default); the
//               loss count should be 0 for a receiver that keeps up.
// Beside the rates it prints the receiver's CPU time per profile, which
// the scheduling of a busy machine disturbs far less than rates and losses:
// the default socket buffer holds only about 25 type 19 profiles, a little
// over a millisecond at 20,000/s, so any longer stall of the receiving
// thread loses datagrams whoever receives them.
// Only loopback addresses are used.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <functional>
#include <vector>

#include "core/wire.h"
#include "data/profile_decode.h"
#include "net/socket.h"
#include "sim/profile_scene.h"
#include "sim/sensor_sim.h"
#include "vorex.h"

namespace {

using steady = std::chrono::steady_clock;
constexpr std::uint32_t loopback = 0x0100007F;
constexpr int data_type = 19;

struct outcome {
    std::size_t received = 0;
    double seconds = 0;      // first to last datagram received
    double cpu_seconds = 0;  // the receiving process's, over the same span
    double rate() const { return seconds > 0 ? static_cast<double>(received - 1) / seconds : 0; }
    double cpu_us_per_profile() const { return received > 1 ? cpu_seconds * 1e6 / static_cast<double>(received - 1) : 0; }
};

// Sends `count` profiles to 127.0.0.1:port from a child process, at `rate`
// per second (0: as fast as it can). Returns the child's id.
pid_t start_sender(std::uint16_t port, std::size_t count, double rate) {
    const pid_t child = fork();
    if (child != 0) return child;
    // One swing of the scene, built once; each copy gets its own sequence.
    std::vector<vorex_sim::bytes> scene;
    for (std::uint32_t s = 0; s < vorex_sim::scene::box_period; ++s) scene.push_back(vorex_sim::make_profile(data_type, s));
    vorex_net::handle h = vorex_net::open_udp();
    const vorex_net::endpoint to{loopback, port};
    const auto start = steady::now();
    for (std::size_t i = 0; i < count; ++i) {
        // Sleeping rather than spinning leaves the other core to the
        // receiver; a sender that overslept catches up at once.
        if (rate > 0)
            std::this_thread::sleep_until(start + std::chrono::duration_cast<steady::duration>(
                                                      std::chrono::duration<double>(static_cast<double>(i) / rate)));
        vorex_sim::bytes& d = scene[i % scene.size()];
        vorex_wire::store_u32_le(&d[vorex_sim::scene::at_sequence], static_cast<std::uint32_t>(i));
        vorex_net::send_to(h, d.data(), d.size(), to);
    }
    vorex_net::close(h);
    _exit(0);
}

// Receives with `take` until three receive timeouts in a row follow the
// first datagram.
outcome receive_all(const std::function<bool()>& take) {
    outcome o;
    for (int tries = 0; tries < 50 && !take(); ++tries) {}
    const auto first = steady::now();
    const std::clock_t first_cpu = std::clock();
    auto last = first;
    std::clock_t last_cpu = first_cpu;
    o.received = 1;
    for (int misses = 0; misses < 3;) {
        if (take()) {
            ++o.received;
            last = steady::now();
            last_cpu = std::clock();
            misses = 0;
        } else {
            ++misses;
        }
    }
    o.seconds = std::chrono::duration<double>(last - first).count();
    o.cpu_seconds = static_cast<double>(last_cpu - first_cpu) / CLOCKS_PER_SEC;
    return o;
}

outcome run(std::uint16_t port, const std::function<bool()>& take, std::size_t count, double rate) {
    const pid_t sender = start_sender(port, count, rate);
    outcome o = receive_all(take);
    int status = 0;
    waitpid(sender, &status, 0);
    return o;
}

void print(const char* what, std::size_t sent, const outcome& o) {
    std::printf("  %-13s received %7zu of %7zu  lost %7zu  %8.0f profiles/s  %5.2f us CPU per profile\n", what,
                o.received, sent, sent - o.received, o.rate(), o.cpu_us_per_profile());
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const double paced_rate = argc > 1 ? std::atof(argv[1]) : 20000.0;
    const std::size_t flat_count = 200000;
    const std::size_t paced_count = static_cast<std::size_t>(paced_rate * 2);  // two seconds
    const int repeats = 5;

    vorex::init();
    // A session whose data socket is bound by connect(), as an application's.
    vorex_net::handle probe = vorex_net::open_udp();
    vorex_net::endpoint e{};
    vorex_net::bind(probe, {loopback, 0});
    vorex_net::local_endpoint(probe, &e);
    vorex_net::close(probe);
    vorex_sim::device_config config;
    config.subnet_mask = 0x000000FF;
    config.data_port = e.port;
    config.service_port = 9;  // never spoken to
    vorex_device_info_t info = vorex_sim::device_model(config).record();
    vorex session(&info, 1);
    if (!session.connect()) {
        std::fprintf(stderr, "connect failed: %s\n", session.error_msg());
        return 1;
    }
    vorex_profile profile;
    auto take_profile = [&] { return session.get_result(profile); };

    // The bare loop's socket: opened, timed and bound as connect() does.
    vorex_net::handle bare = vorex_net::open_udp();
    vorex_net::set_receive_timeout(bare, vorex_net::library_receive_timeout_ms());
    vorex_net::bind(bare, {loopback, 0});
    vorex_net::endpoint bare_local{};
    vorex_net::local_endpoint(bare, &bare_local);
    std::vector<std::uint8_t> buffer(vorex_data::max_profile_datagram);
    auto take_bare = [&] { return vorex_net::receive(bare, buffer.data(), buffer.size()) > 0; };

    std::printf("type %d profiles (%zu bytes) on loopback, sender in its own process\n", data_type,
                vorex_data::max_profile_datagram);
    std::vector<double> rate_ratio, cpu_ratio, paced_loss_result, paced_loss_bare;
    for (int r = 0; r < repeats; ++r) {
        std::printf("run %d, flat out:\n", r + 1);
        const outcome a = run(session.info().data_port, take_profile, flat_count, 0);
        const outcome b = run(bare_local.port, take_bare, flat_count, 0);
        print("get_result", flat_count, a);
        print("bare receive", flat_count, b);
        rate_ratio.push_back(a.rate() / b.rate());
        cpu_ratio.push_back(a.cpu_us_per_profile() / b.cpu_us_per_profile());
        std::printf("run %d, paced at %.0f profiles/s:\n", r + 1, paced_rate);
        const outcome pa = run(session.info().data_port, take_profile, paced_count, paced_rate);
        const outcome pb = run(bare_local.port, take_bare, paced_count, paced_rate);
        print("get_result", paced_count, pa);
        print("bare receive", paced_count, pb);
        paced_loss_result.push_back(static_cast<double>(paced_count - pa.received));
        paced_loss_bare.push_back(static_cast<double>(paced_count - pb.received));
    }
    std::printf("medians of %d runs:\n", repeats);
    std::printf("  flat-out rate, get_result / bare receive:        %.3f\n", median(rate_ratio));
    std::printf("  CPU per profile, get_result / bare receive:      %.3f\n", median(cpu_ratio));
    std::printf("  lost at %.0f/s of %zu: get_result %.0f, bare receive %.0f\n", paced_rate, paced_count,
                median(paced_loss_result), median(paced_loss_bare));
    vorex_net::close(bare);
    session.disconnect();
    vorex::cleanup();
    return 0;
}
