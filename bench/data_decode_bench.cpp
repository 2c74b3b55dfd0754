// Cost of decoding one profile of each data type, and of fetching the whole
// image from the simulated sensor on loopback.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "core/session_access.h"
#include "core/wire.h"
#include "data/profile_decode.h"
#include "sim/sensor_sim.h"
#include "vorex.h"

namespace {

// A scene profile with the box in view; the caller's record is reused, as
// a streaming application would.
void decode_profile(benchmark::State& state) {
    const int type = static_cast<int>(state.range(0));
    const vorex_sim::bytes datagram = vorex_sim::make_profile(type, 100);
    vorex_profile profile;
    for (auto _ : state) {
        auto outcome = vorex_data::decode_profile(datagram.data(), datagram.size(), profile);
        benchmark::DoNotOptimize(outcome);
        benchmark::DoNotOptimize(profile.points.data());
    }
    state.counters["points"] = static_cast<double>(profile.points.size());
    state.counters["profiles/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * datagram.size()));
}
BENCHMARK(decode_profile)->ArgName("type")->DenseRange(16, 19);

std::uint16_t free_loopback_port() {
    vorex_net::handle h = vorex_net::open_udp();
    vorex_net::endpoint e{};
    vorex_net::bind(h, {0x0100007F, 0});
    vorex_net::local_endpoint(h, &e);
    vorex_net::close(h);
    return e.port;
}

// One get_image per iteration against the simulated sensor's stop-and-wait
// transfer, with the sensor's image_packet_size as the argument.
void get_image_from_simulator(benchmark::State& state) {
    vorex::init();
    {
        vorex_sim::device_config config;
        config.subnet_mask = 0x000000FF;
        config.data_port = free_loopback_port();
        config.image_packet_size = static_cast<std::int32_t>(state.range(0));
        vorex_sim::sensor_sim sim({config});
        vorex_device_info_t info = sim.record(0);
        vorex session(&info, 1);
        if (!session.connect()) state.SkipWithError("connect failed");
        std::vector<unsigned char> image(vorex_wire::image_size);
        for (auto _ : state) {
            if (!session.get_image(image.data())) state.SkipWithError("get_image failed");
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * vorex_wire::image_size));
    }
    vorex::cleanup();
}
BENCHMARK(get_image_from_simulator)->ArgName("packet_size")->Arg(1400)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
