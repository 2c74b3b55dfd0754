// The C++ half of python/bench/get_result.py: the cost of one get_result
// with a type 19 profile already waiting, beside a bare receive of the same
// datagram on a socket set up alike. Batches of `batch` datagrams are sent
// untimed on loopback, then taken timed, so the socket buffer (about 25
// such profiles) never overflows. Prints the calling thread's CPU time per
// call in nanoseconds, which a busy machine's scheduling disturbs far less
// than wall time.
// Usage: vorex-bench-get-result [ROUNDS]
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "net/socket.h"
#include "sim/sensor_sim.h"
#include "vorex.h"

namespace {

double thread_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}
constexpr std::uint32_t loopback = 0x0100007F;
constexpr int batch = 10;

std::uint16_t bound_port(vorex_net::handle h) {
    vorex_net::endpoint local{};
    vorex_net::local_endpoint(h, &local);
    return local.port;
}

// Sends a batch, then times `take` over it; the total over every round.
template <typename F>
double nanoseconds_per_call(vorex_net::handle sender, std::uint16_t port, const vorex_sim::bytes& d, int rounds, F take) {
    double spent = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < batch; ++i) vorex_net::send_to(sender, d.data(), d.size(), {loopback, port});
        const double t0 = thread_cpu_ns();
        for (int i = 0; i < batch; ++i)
            if (!take()) {
                std::fprintf(stderr, "a datagram was lost; rerun on a quieter machine\n");
                std::exit(1);
            }
        spent += thread_cpu_ns() - t0;
    }
    return spent / (rounds * batch);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    vorex::init();
    const vorex_sim::bytes datagram = vorex_sim::make_profile(19, 0);
    vorex_net::handle sender = vorex_net::open_udp();
    vorex_net::bind(sender, {loopback, 0});

    vorex_net::handle bare = vorex_net::open_udp();
    vorex_net::set_receive_timeout(bare, 100);
    vorex_net::bind(bare, {loopback, 0});
    std::vector<std::uint8_t> buffer(32768);
    const double floor = nanoseconds_per_call(sender, bound_port(bare), datagram, rounds, [&] {
        return vorex_net::receive(bare, buffer.data(), 5248) == static_cast<int>(datagram.size());
    });

    // The session's data port: one that is free right now.
    vorex_net::handle probe = vorex_net::open_udp();
    vorex_net::bind(probe, {loopback, 0});
    const std::uint16_t data_port = bound_port(probe);
    vorex_net::close(probe);
    vorex_device_info_t info{};
    info.ip_address = loopback;
    info.subnet_mask = 0x000000FF;
    info.data_port = data_port;
    info.service_port = 9;
    vorex session(&info, 0);
    if (!session.connect()) return 1;
    vorex_profile profile;
    const double cpp = nanoseconds_per_call(sender, data_port, datagram, rounds,
                                            [&] { return session.get_result(profile); });
    std::printf("bare receive   %8.0f ns/call\nC++ get_result %8.0f ns/call (%.2fx the bare receive)\n", floor, cpp,
                cpp / floor);
    session.disconnect();
    vorex_net::close(bare);
    vorex_net::close(sender);
    vorex::cleanup();
}
