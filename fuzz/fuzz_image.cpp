// Fuzz target: a sequence of image datagrams through the assembly.
//
// Input: datagrams one after another, each as a little-endian 16-bit length
// and that many bytes (the last one takes what is left). Lengths above the
// largest receive are cut to it, as the receive would never deliver more.
// Every step is checked against a plain model of the transfer, and the
// image buffer is exactly as large as an image, so any write past it is an
// out-of-bounds write for the sanitizers.
#include <cstring>
#include <memory>
#include <vector>

#include "core/wire.h"
#include "data/image_assembly.h"
#include "fuzz_check.h"
#include "image_model.h"

namespace {

using vorex_data::image_step;
using vorex_wire::image_size;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto image = std::make_unique<std::uint8_t[]>(image_size);
    std::memset(image.get(), 0xA5, image_size);
    vorex_data::image_assembly assembly(image.get());
    vorex_fuzz::image_model expected;

    std::size_t at = 0;
    while (at + 2 <= size) {
        std::size_t n = vorex_wire::load_u16_le(data + at);
        at += 2;
        if (n > size - at) n = size - at;
        const std::size_t length = n < vorex_core::buffer_size ? n : vorex_core::buffer_size;
        // A private copy: the assembly must not rely on bytes past the datagram.
        std::vector<std::uint8_t> datagram(data + at, data + at + length);
        at += n;

        const image_step step = assembly.take(datagram.data(), static_cast<int>(datagram.size()));
        VOREX_FUZZ_REQUIRE(step == expected.take(datagram.data(), datagram.size()));
        VOREX_FUZZ_REQUIRE(assembly.end() == expected.end);
        VOREX_FUZZ_REQUIRE(assembly.complete() == (step == image_step::complete));
        if (step == image_step::stop || step == image_step::complete) break;
    }
    VOREX_FUZZ_REQUIRE(std::memcmp(image.get(), expected.image.data(), image_size) == 0);
    return 0;
}
