// Cost of the scan's assembly per profile: the whole build (extent, native
// spacing, rows by receive time, one row filled per profile) and the row
// fill alone, each beside a floor measured in the same run: one pass that
// reads every point and stores one float per point, the least any
// rasteriser does.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <vector>

#include "bench_support.h"
#include "data/profile_decode.h"
#include "height_map.h"
#include "sim/sensor_sim.h"

namespace {

constexpr int profiles = 500;

// Type 19 profiles (1296 points) of the simulator's moving part, 0.5 mm
// apart, 5 ms apart.
const std::vector<std::vector<vorex_point_t>>& part_profiles() {
    static const auto made = [] {
        std::vector<std::vector<vorex_point_t>> out;
        vorex_profile p;
        for (int i = 0; i < profiles; ++i) {
            const auto d = vorex_sim::make_part_profile(19, static_cast<std::uint32_t>(i), 0.5 * i);
            vorex_data::decode_profile(d.data(), d.size(), p);
            out.push_back(p.points);
        }
        return out;
    }();
    return made;
}

using vorex_bench::cpu_seconds_of;

double floor_pass(const std::vector<std::vector<vorex_point_t>>& in, std::vector<float>& out) {
    return cpu_seconds_of([&] {
        for (const auto& points : in) {
            for (std::size_t i = 0; i < points.size(); ++i) out[i] = static_cast<float>(points[i].z + points[i].x);
            benchmark::DoNotOptimize(out.data());
            benchmark::ClobberMemory();
        }
    });
}

// The whole build by speed, per profile.
// The measured and the floor's CPU time per profile, in ns, and their ratio.
void report_per_profile(benchmark::State& state, double measured_s, double floor_s) {
    const double n = static_cast<double>(state.iterations()) * profiles;
    state.counters["value"] = measured_s * 1e9 / n;
    state.counters["floor"] = floor_s * 1e9 / n;
    state.counters["ratio"] = measured_s / floor_s;
}

void scan_build_vs_floor(benchmark::State& state) {
    const auto& in = part_profiles();
    vorex_scan::scan_assembly scan;
    for (int i = 0; i < profiles; ++i) scan.add(in[i], std::chrono::milliseconds(5 * i));
    std::vector<float> row(2000);
    double build_s = 0, floor_s = 0;
    for (auto _ : state) {
        build_s += cpu_seconds_of([&] {
            auto map = scan.build({0, 100.0, 0});
            benchmark::DoNotOptimize(map.z.data());
        });
        floor_s += floor_pass(in, row);
    }
    report_per_profile(state, build_s, floor_s);
}
BENCHMARK(scan_build_vs_floor)->Iterations(20)->UseRealTime();

// One row filled, per profile (what the viewer's waterfall does for each).
void scan_fill_vs_floor(benchmark::State& state) {
    const auto& in = part_profiles();
    vorex_scan::row_grid grid(-120, 240.0 / 1295, 1296, 0.5);
    std::vector<float> row(2000);
    double fill_s = 0, floor_s = 0;
    for (auto _ : state) {
        fill_s += cpu_seconds_of([&] {
            for (const auto& points : in) {
                grid.fill(points, row.data());
                benchmark::DoNotOptimize(row.data());
                benchmark::ClobberMemory();
            }
        });
        floor_s += floor_pass(in, row);
    }
    report_per_profile(state, fill_s, floor_s);
}
BENCHMARK(scan_fill_vs_floor)->Iterations(20)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
