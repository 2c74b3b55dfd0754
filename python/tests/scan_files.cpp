// The C++ side of the scan file tests: a scan of the simulator's part
// (type 17 profiles, 2 mm apart, profile 30 lost on the way) written in
// every format into DIR, beside the map itself as map.bin: u32 rows,
// u32 columns, f64 x origin, x step and y step, then the rows x columns
// float cells (NaN missing).
//   vorex-py-scan-files DIR
#include <chrono>
#include <cstdio>
#include <string>

#include "data/profile_decode.h"
#include "height_map.h"
#include "scan_files.h"
#include "sim/sensor_sim.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vorex-py-scan-files DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    constexpr double speed = 400;  // mm/s: with a profile each 5 ms, 2 mm apart
    vorex_scan::scan_assembly scan;
    vorex_profile profile;
    for (std::uint32_t i = 0; i < 150; ++i) {
        if (i == 30) continue;
        const auto datagram = vorex_sim::make_part_profile(17, i, 2.0 * i);
        if (vorex_data::decode_profile(datagram.data(), datagram.size(), profile) != vorex_data::decode_outcome::accepted)
            return 1;
        scan.add(profile.points, std::chrono::milliseconds(5 * i));
    }
    const vorex_scan::height_map map = scan.build({0, speed, 0});

    std::FILE* f = std::fopen((dir + "/map.bin").c_str(), "wb");
    if (!f) return 1;
    const std::uint32_t shape[2] = {static_cast<std::uint32_t>(map.rows), static_cast<std::uint32_t>(map.columns)};
    const double grid[3] = {map.x_origin, map.x_step, map.y_step};
    std::fwrite(shape, sizeof shape, 1, f);
    std::fwrite(grid, sizeof grid, 1, f);
    std::fwrite(map.z.data(), sizeof(float), map.z.size(), f);
    if (std::fclose(f) != 0) return 1;

    const struct {
        const char* name;
        bool gray16, metres;
    } files[] = {{"scan.tiff", false, false}, {"scan.png", false, false}, {"scan16.png", true, false},
                 {"scan.ply", false, false},  {"scan.pcd", false, false}, {"scan.csv", false, false},
                 {"scan_m.ply", false, true}, {"scan_m.pcd", false, true}, {"scan_m.csv", false, true}};
    for (const auto& file : files) {
        const std::string path = dir + "/" + file.name;
        std::string error;
        if (!vorexctl::write_scan(path, vorexctl::scan_format_of(path, file.gray16), map, file.metres, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
