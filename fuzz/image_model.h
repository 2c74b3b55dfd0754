// The image transfer as a plain model, written independently of the
// library's assembly, for the image fuzz targets to check it against.
#ifndef VOREX_FUZZ_IMAGE_MODEL_H
#define VOREX_FUZZ_IMAGE_MODEL_H

#include <cstdint>
#include <vector>

#include "core/wire.h"
#include "data/image_assembly.h"

namespace vorex_fuzz {

using vorex_data::image_step;
using vorex_wire::image_size;

// The transfer as a model, written independently of the assembly.
struct image_model {
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(image_size, 0xA5);
    std::uint64_t end = 0;

    image_step take(const std::uint8_t* d, std::size_t n) {
        if (n < 14) return image_step::stop;
        if (n == 14) return image_step::pass_over;
        const bool asks = (d[0] & 0x08) != 0;
        if (asks && end == 0) return image_step::answer;
        if (n < 18) return image_step::pass_over;
        const std::uint64_t offset = vorex_wire::load_u32_le(d + 14);
        for (std::size_t k = 0; k < n - 18; ++k)
            if (offset + k < image_size) image[static_cast<std::size_t>(offset + k)] = d[18 + k];
        end = offset + (n - 18);
        if (end >= image_size) return image_step::complete;
        return asks ? image_step::chunk_acked : image_step::chunk;
    }
};

}  // namespace vorex_fuzz

#endif
