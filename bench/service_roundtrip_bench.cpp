// Service round trips against the simulated sensor beside a bare UDP
// ping-pong of the same sizes: a group read (14 bytes out, 206 back) and
// write_params (1414 out, 14 back). The sensor and the bare peers live in a
// child process; both sides are pinned, to one CPU and to two, since the
// placement alone changes a loopback round trip several times over.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "bench_support.h"
#include "sim/sensor_sim.h"
#include "vorex.h"

namespace {

using steady = std::chrono::steady_clock;
constexpr std::size_t header_size = 14;
constexpr std::size_t group_reply = header_size + sizeof(vorex_general_params_t);
constexpr std::size_t block_request = header_size + sizeof(vorex_user_params_t);
constexpr int batch = 200;

// The child: the simulated sensor and two bare peers, one per reply size.
void serve_sensor_and_peers(const vorex_bench::pinned_child::reporter& report) {
    vorex::init();
    vorex_sim::device_config c;
    c.ip_address = vorex_bench::loopback;
    c.subnet_mask = 0x000000FF;
    c.data_port = vorex_bench::free_loopback_port();
    vorex_sim::sensor_sim sim({c});
    vorex_bench::bare_responder group_peer(group_reply), block_peer(header_size);
    report({sim.service(0).local().port, group_peer.local().port, block_peer.local().port});
    for (;;) {  // the recording would grow with every exchange
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sim.service(0).clear_wire();
    }
}

template <typename F>
double seconds_of(F&& f) {
    const auto t0 = steady::now();
    f();
    return std::chrono::duration<double>(steady::now() - t0).count();
}

// range(0): the sensor's CPU; the client runs on CPU 0.
void round_trip(benchmark::State& state, bool group_read) {
    const int peer_cpu = static_cast<int>(state.range(0));
    vorex_bench::pin_to_cpu(0);
    vorex_bench::pinned_child child(peer_cpu, serve_sensor_and_peers, 3);
    if (child.ports().size() != 3) {
        state.SkipWithError("sensor process did not start");
        return;
    }
    vorex::init();
    {
        vorex_sim::device_config c;
        c.ip_address = vorex_bench::loopback;
        c.subnet_mask = 0x000000FF;
        c.service_port = child.ports()[0];
        c.data_port = vorex_bench::free_loopback_port();
        vorex_device_info_t info = vorex_sim::device_model(c).record();
        vorex session(&info, 1);
        if (!session.connect()) state.SkipWithError("connect failed");
        vorex_general_params_t group{};
        vorex_user_params_t block{};
        const vorex_net::endpoint bare{vorex_bench::loopback, child.ports()[group_read ? 1 : 2]};
        double library_s = 0, bare_s = 0;
        for (auto _ : state) {
            library_s += seconds_of([&] {
                for (int i = 0; i < batch; ++i)
                    if (!(group_read ? session.read_general_params(&group) : session.write_params(&block)))
                        state.SkipWithError("exchange failed");
            });
            bare_s += seconds_of([&] {
                if (!vorex_bench::stop_and_wait(bare, batch, group_read ? header_size : block_request,
                                                group_read ? group_reply : header_size))
                    state.SkipWithError("bare reply lost");
            });
        }
        const double n = static_cast<double>(state.iterations()) * batch;
        state.counters["value"] = library_s * 1e6 / n;
        state.counters["floor"] = bare_s * 1e6 / n;
    }
    vorex::cleanup();
    vorex_bench::pin_to_cpu_any();
}

void group_read_round_trip(benchmark::State& state) { round_trip(state, true); }
void write_params_round_trip(benchmark::State& state) { round_trip(state, false); }
BENCHMARK(group_read_round_trip)->ArgName("peer_cpu")->Arg(0)->Arg(1)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(write_params_round_trip)->ArgName("peer_cpu")->Arg(0)->Arg(1)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
