// The C++ side of the Python tests, on stdout as raw bytes:
//   vorex-py-oracle profile TYPE SEQUENCE  the simulator's profile datagram
//   vorex-py-oracle decode                 the library's decode of the datagram on stdin:
//                                          u32 point count, u32 raw count, the points
//                                          as (x, z) doubles, the raw values as u16
//   vorex-py-oracle image                  the simulator's 648 x 488 image
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "data/profile_decode.h"
#include "sim/device_model.h"
#include "sim/sensor_sim.h"

namespace {

void put(const void* data, std::size_t size) { std::fwrite(data, 1, size, stdout); }

int decode() {
    const std::vector<std::uint8_t> in((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    vorex_profile p;
    if (vorex_data::decode_profile(in.data(), in.size(), p) != vorex_data::decode_outcome::accepted) return 1;
    const bool single_value = p.header.data_type == 16 || p.header.data_type == 18;
    const std::uint32_t counts[2] = {static_cast<std::uint32_t>(p.points.size()),
                                     static_cast<std::uint32_t>(single_value ? p.raw_values.size() : 0)};
    put(counts, sizeof counts);
    put(p.points.data(), p.points.size() * sizeof(vorex_point_t));
    put(p.raw_values.data(), counts[1] * sizeof(std::uint16_t));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "profile" && argc == 4) {
        const auto d = vorex_sim::make_profile(std::atoi(argv[2]), static_cast<std::uint32_t>(std::atoll(argv[3])));
        put(d.data(), d.size());
        return 0;
    }
    if (what == "decode") return decode();
    if (what == "image") {
        const auto& image = vorex_sim::synthetic_image();
        put(image.data(), image.size());
        return 0;
    }
    std::fprintf(stderr, "usage: vorex-py-oracle profile TYPE SEQUENCE | decode | image\n");
    return 2;
}
