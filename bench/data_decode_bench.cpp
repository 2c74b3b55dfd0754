// Cost of decoding one profile of each data type, and of fetching the whole
// image from the simulated sensor on loopback.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "core/session_access.h"
#include "core/wire.h"
#include "data/image_assembly.h"
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

using steady = std::chrono::steady_clock;

template <typename F>
double seconds_of(F&& f) {
    const auto t0 = steady::now();
    f();
    return std::chrono::duration<double>(steady::now() - t0).count();
}

using vorex_bench::cpu_seconds_of;

// The floor of a decode: one plain pass that reads every byte of the
// samples, eight at a time, so the ratio shows what the conversion into
// points costs beyond touching the datagram.
std::uint64_t plain_pass(const std::uint8_t* samples, std::size_t bytes) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i + 8 <= bytes; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, samples + i, 8);
        sum += word;
    }
    return sum;
}

// range(0): the data type; range(1), when given: the decode path.
void decode_vs_plain_pass(benchmark::State& state) {
    constexpr int batch = 2000;
    const int type = static_cast<int>(state.range(0));
    vorex_sim::bytes datagram = vorex_sim::make_profile(type, 100);
    // range(2), when given: the scale divisor in place of the scene's.
    if (state.range(2) > 0)
        vorex_wire::store_u16_le(&datagram[vorex_data::at_scale_divisor], static_cast<std::uint16_t>(state.range(2)));
    const auto path = state.range(1) < 0 ? vorex_data::best_decode_path() : static_cast<vorex_data::decode_path>(state.range(1));
    if (!vorex_data::decode_path_supported(path)) {
        state.SkipWithError("path not supported here");
        return;
    }
    const std::uint8_t* samples = datagram.data() + vorex_data::profile_header_size;
    const std::size_t sample_bytes = datagram.size() - vorex_data::profile_header_size;
    vorex_profile profile;
    double decode_s = 0, plain_s = 0;
    for (auto _ : state) {
        decode_s += cpu_seconds_of([&] {
            for (int i = 0; i < batch; ++i) {
                auto outcome = vorex_data::decode_profile(datagram.data(), datagram.size(), profile, path);
                benchmark::DoNotOptimize(outcome);
                benchmark::DoNotOptimize(profile.points.data());
                benchmark::ClobberMemory();
            }
        });
        plain_s += cpu_seconds_of([&] {
            for (int i = 0; i < batch; ++i) {
                benchmark::DoNotOptimize(samples);
                benchmark::DoNotOptimize(plain_pass(samples, sample_bytes));
            }
        });
    }
    const double n = static_cast<double>(state.iterations()) * batch;
    state.counters["value"] = decode_s * 1e9 / n;
    state.counters["floor"] = plain_s * 1e9 / n;
}
BENCHMARK(decode_vs_plain_pass)->ArgNames({"type", "path", "divisor"})->ArgsProduct({{16, 17, 18, 19}, {-1}, {0}})->Iterations(50)->UseRealTime();
// A power-of-two divisor, the sensors' common case.
BENCHMARK(decode_vs_plain_pass)->ArgNames({"type", "path", "divisor"})->ArgsProduct({{16, 19}, {-1}, {64}})->Iterations(50)->UseRealTime();
// Each path on its own: 0 generic, 1 AVX2, 2 AVX-512; with the scene's
// divisor, a power of two and one that is not.
BENCHMARK(decode_vs_plain_pass)->ArgNames({"type", "path", "divisor"})->ArgsProduct({{16, 19}, {0, 3, 1, 2}, {0, 64, 1000}})->Iterations(50)->UseRealTime();

using vorex_bench::free_loopback_port;

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

// get_image beside a bare peer that sends as many chunk datagrams of the
// same size, one per acknowledgement.
void get_image_vs_chunked_stop_and_wait(benchmark::State& state) {
    const std::int32_t packet_size = static_cast<std::int32_t>(state.range(0));
    const std::size_t datagram = vorex_data::image_receive_size(packet_size);
    const std::size_t chunk = datagram - vorex_data::chunk_header_size;
    const std::size_t chunks = (vorex_wire::image_size + chunk - 1) / chunk;
    vorex::init();
    {
        vorex_sim::device_config config;
        config.subnet_mask = 0x000000FF;
        config.data_port = free_loopback_port();
        config.image_packet_size = packet_size;
        vorex_sim::sensor_sim sim({config});
        vorex_device_info_t info = sim.record(0);
        vorex session(&info, 1);
        if (!session.connect()) state.SkipWithError("connect failed");
        vorex_bench::bare_responder peer(datagram, chunks);
        std::vector<unsigned char> image(vorex_wire::image_size);
        double library_s = 0, bare_s = 0;
        for (auto _ : state) {
            library_s += seconds_of([&] {
                if (!session.get_image(image.data())) state.SkipWithError("get_image failed");
            });
            sim.service(0).clear_wire();
            bare_s += seconds_of([&] {
                if (!vorex_bench::chunked_stop_and_wait(peer.local(), chunks, datagram))
                    state.SkipWithError("bare chunk lost");
            });
        }
        const double n = static_cast<double>(state.iterations());
        state.counters["value"] = library_s * 1e3 / n;
        state.counters["floor"] = bare_s * 1e3 / n;
    }
    vorex::cleanup();
}
BENCHMARK(get_image_vs_chunked_stop_and_wait)->ArgName("packet_size")->Arg(1400)->Arg(0)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
