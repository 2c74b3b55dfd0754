#include "data/image_assembly.h"

#include <cstring>

namespace vorex_data {

std::size_t image_receive_size(std::int32_t image_packet_size) {
    constexpr std::int32_t largest_payload = static_cast<std::int32_t>(vorex_core::buffer_size - vorex_wire::header_size);
    if (image_packet_size <= 0 || image_packet_size > largest_payload) return vorex_core::buffer_size;
    return static_cast<std::size_t>(image_packet_size) + vorex_wire::header_size;
}

image_step image_assembly::take(const std::uint8_t* datagram, int length) {
    const int header = static_cast<int>(vorex_wire::header_size);
    if (length < header) return image_step::stop;
    if (length == header) return image_step::pass_over;
    const bool asks_ack = vorex_wire::asks_ack(datagram);
    if (asks_ack && end_ == 0) return image_step::answer;
    if (length < static_cast<int>(chunk_header_size)) return image_step::pass_over;

    const std::uint32_t offset = vorex_wire::load_u32_le(datagram + at_chunk_offset);
    const std::size_t size = static_cast<std::size_t>(length) - chunk_header_size;
    place(offset, datagram + chunk_header_size, size);
    end_ = std::uint64_t{offset} + size;
    if (complete()) return image_step::complete;
    return asks_ack ? image_step::chunk_acked : image_step::chunk;
}

void image_assembly::place(std::uint32_t offset, const std::uint8_t* chunk, std::size_t size) {
    if (offset >= vorex_wire::image_size) return;
    const std::size_t room = vorex_wire::image_size - offset;
    std::memcpy(image_ + offset, chunk, size < room ? size : room);
}

}  // namespace vorex_data
