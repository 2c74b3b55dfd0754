// Profile reception on loopback: get_result beside a bare receive loop on a
// socket configured the same way (opened and bound like a session's data
// socket, same receive timeout, same receive size), each fed by a sender
// process with type 19 profiles.
//
// Measurements per receiver, each repeated:
//   flat out - the sender sends as fast as it can; the rate is what the
//              receiver took per second, and its CPU time per profile is
//              set beside the bare loop's plus one decode;
//   loss     - fixed offered rates (20,000 and 50,000 profiles/s) while
//              the receiving thread sleeps 2 ms every 100 ms, as a busy
//              application's would; a bare loop with the platform's default
//              buffer shows what the session's larger buffer buys.
// Only loopback addresses are used.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <ctime>
#include <thread>
#include <functional>
#include <vector>

#include "bench_support.h"
#include "core/session_access.h"
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

// How a busy application's receiving thread is taken away now and then.
constexpr auto stall_every = std::chrono::milliseconds(100);
constexpr auto stall_for = std::chrono::milliseconds(2);

// Receives with `take` until three receive timeouts in a row follow the
// first datagram; with `stalls`, the thread sleeps 2 ms every 100 ms.
outcome receive_all(const std::function<bool()>& take, bool stalls = false) {
    outcome o;
    for (int tries = 0; tries < 50 && !take(); ++tries) {}
    const auto first = steady::now();
    auto next_stall = first + stall_every;
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
            if (stalls && last >= next_stall) {
                std::this_thread::sleep_for(stall_for);
                next_stall += stall_every;
            }
        } else {
            ++misses;
        }
    }
    o.seconds = std::chrono::duration<double>(last - first).count();
    o.cpu_seconds = static_cast<double>(last_cpu - first_cpu) / CLOCKS_PER_SEC;
    return o;
}

outcome run(std::uint16_t port, const std::function<bool()>& take, std::size_t count, double rate,
            bool stalls = false) {
    const pid_t sender = start_sender(port, count, rate);
    outcome o = receive_all(take, stalls);
    int status = 0;
    waitpid(sender, &status, 0);
    return o;
}

void print(const char* what, std::size_t sent, const outcome& o) {
    std::fprintf(stderr, "  %-13s received %7zu of %7zu  lost %7zu  %8.0f profiles/s  %5.2f us CPU per profile\n", what,
                o.received, sent, sent - o.received, o.rate(), o.cpu_us_per_profile());
}

// One repetition of a table row: the measured figure and its floor from
// the same run, printed for bench/run in Google Benchmark's JSON shape.
struct sample {
    std::string name;
    double value, floor;
};

void print_json(const std::vector<sample>& samples) {
    std::printf("{\"benchmarks\": [\n");
    for (std::size_t i = 0; i < samples.size(); ++i)
        std::printf("  {\"name\": \"%s\", \"run_type\": \"iteration\", \"value\": %.6g, \"floor\": %.6g}%s\n",
                    samples[i].name.c_str(), samples[i].value, samples[i].floor, i + 1 < samples.size() ? "," : "");
    std::printf("]}\n");
}

// CPU time of one decode of a type 19 scene profile, in microseconds.
double decode_cpu_us() {
    constexpr int count = 5000;
    const vorex_sim::bytes d = vorex_sim::make_profile(data_type, 100);
    vorex_profile profile;
    const std::clock_t start = std::clock();
    for (int i = 0; i < count; ++i) vorex_data::decode_profile(d.data(), d.size(), profile);
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC * 1e6 / count;
}

}  // namespace

int main(int argc, char** argv) {
    // The running account goes to stderr; --json prints the samples to stdout.
    const bool json = argc > 1 && std::strcmp(argv[1], "--json") == 0;
    const std::size_t flat_count = 200000;
    const int flat_repeats = 5;
    const int loss_repeats = 10;
    const double loss_rates[] = {20000.0, 50000.0};

    vorex::init();
    // A session whose data socket is bound by connect(), as an application's.
    vorex_sim::device_config config;
    config.subnet_mask = 0x000000FF;
    config.data_port = vorex_bench::free_loopback_port();
    config.service_port = 9;  // never spoken to
    vorex_device_info_t info = vorex_sim::device_model(config).record();
    vorex session(&info, 1);
    if (!session.connect()) {
        std::fprintf(stderr, "connect failed: %s\n", session.error_msg());
        return 1;
    }
    vorex_profile profile;
    auto take_profile = [&] { return session.get_result(profile); };
    const vorex_net::handle data_socket = vorex_session_access::data_socket(session);

    // The bare loop's socket: opened, timed, buffered and bound as
    // connect() does; a second one keeps the platform's default buffer.
    std::vector<std::uint8_t> buffer(vorex_data::max_profile_datagram);
    auto bare_socket = [&](bool like_session) {
        vorex_net::handle h = vorex_net::open_udp();
        vorex_net::set_receive_timeout(h, vorex_net::library_receive_timeout_ms());
        // Linux reports twice what it grants.
        const int session_buffer = vorex_net::receive_buffer_size(data_socket);
        if (like_session && vorex_net::receive_buffer_size(h) != session_buffer)
            vorex_net::set_receive_buffer(h, session_buffer / 2);
        vorex_net::bind(h, {loopback, 0});
        return h;
    };
    const vorex_net::handle bare = bare_socket(true), plain = bare_socket(false);
    if (vorex_net::receive_buffer_size(bare) != vorex_net::receive_buffer_size(data_socket)) {
        std::fprintf(stderr, "the bare socket's buffer differs from the session's\n");
        return 1;
    }
    auto port_of = [](vorex_net::handle h) {
        vorex_net::endpoint e{};
        vorex_net::local_endpoint(h, &e);
        return e.port;
    };
    auto take_from = [&](vorex_net::handle h) {
        return [&buffer, h] { return vorex_net::receive(h, buffer.data(), buffer.size()) > 0; };
    };
    const std::uint16_t data_port = session.info().data_port;

    std::fprintf(stderr, "type %d profiles (%zu bytes) on loopback, sender in its own process; receive buffer %d bytes "
                 "(the platform's default: %d)\n",
                 data_type, vorex_data::max_profile_datagram, vorex_net::receive_buffer_size(data_socket),
                 vorex_net::receive_buffer_size(plain));
    std::vector<sample> samples;
    for (int r = 0; r < flat_repeats; ++r) {
        std::fprintf(stderr, "run %d, flat out:\n", r + 1);
        const outcome a = run(data_port, take_profile, flat_count, 0);
        const outcome b = run(port_of(bare), take_from(bare), flat_count, 0);
        print("get_result", flat_count, a);
        print("bare receive", flat_count, b);
        samples.push_back({"stream/flat_out_rate", a.rate(), b.rate()});
        samples.push_back({"stream/cpu_per_profile", a.cpu_us_per_profile(), b.cpu_us_per_profile() + decode_cpu_us()});
    }
    for (double rate : loss_rates) {
        const std::size_t count = static_cast<std::size_t>(rate);  // one second
        const std::string rate_name = std::to_string(static_cast<int>(rate));
        for (int r = 0; r < loss_repeats; ++r) {
            std::fprintf(stderr, "run %d, %.0f profiles/s, 2 ms stall every 100 ms:\n", r + 1, rate);
            const outcome a = run(data_port, take_profile, count, rate, true);
            const outcome b = run(port_of(bare), take_from(bare), count, rate, true);
            const outcome c = run(port_of(plain), take_from(plain), count, rate, true);
            print("get_result", count, a);
            print("bare receive", count, b);
            print("bare, default", count, c);
            samples.push_back({"loss/" + rate_name, static_cast<double>(count - a.received),
                               static_cast<double>(count - b.received)});
            samples.push_back({"loss_default_buffer/" + rate_name, static_cast<double>(count - c.received),
                               static_cast<double>(count - b.received)});
        }
    }
    if (json) print_json(samples);
    vorex_net::close(bare);
    vorex_net::close(plain);
    session.disconnect();
    vorex::cleanup();
    return 0;
}
