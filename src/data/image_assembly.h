// Assembly of the sensor's image from its datagrams: what each datagram
// means for the transfer and where its chunk goes. Pure: no socket and no
// process-wide state, so a fuzzer can feed it any sequence of datagrams.
#ifndef VOREX_DATA_IMAGE_ASSEMBLY_H
#define VOREX_DATA_IMAGE_ASSEMBLY_H

#include <cstddef>
#include <cstdint>

#include "core/state.h"
#include "core/wire.h"

namespace vorex_data {

// An image datagram: the 14-byte header, a little-endian 32-bit offset,
// then the chunk.
constexpr std::size_t at_chunk_offset = vorex_wire::header_size;
constexpr std::size_t chunk_header_size = at_chunk_offset + 4;

// The most one image receive takes. An image_packet_size of 0, or one whose
// datagrams would not fit receive_buffer, reads with the whole buffer.
std::size_t image_receive_size(std::int32_t image_packet_size);

// A transfer has no limit of its own: it goes on while datagrams keep
// coming. A whole image at line rate takes well under a second, even in
// the smallest chunks the record can ask for; one still incomplete this
// long after the request is a flood, and ends so that it cannot hold
// service_lock for as long as it lasts.
constexpr int image_bound_ms = 30000;

// What the transfer makes of one received datagram.
enum class image_step {
    stop,         // fewer than 14 bytes (a failed receive included): reception ends
    pass_over,    // 14 bytes, or a chunk too short to hold its offset: ignored
    answer,       // the sensor's answer to the request: acknowledge it
    chunk,        // a chunk was placed; no acknowledgement asked
    chunk_acked,  // a chunk was placed and asks for an acknowledgement
    complete,     // the chunk reached the image's end: acknowledge it whatever it asked
};

// One transfer into a caller's buffer of vorex_wire::image_size bytes.
//
// The first datagram that asks for an acknowledgement before any chunk was
// placed is the sensor's answer and carries no image bytes. Every other
// datagram of at least 18 bytes is a chunk, written at its offset; chunks
// may come in any order and none is checked for being missing or repeated.
// The transfer is complete when a chunk ends at or past the image's end.
//
// A chunk that does not lie wholly inside the image is clipped: the bytes
// that fall inside are written, the rest dropped, and its end still counts
// for completion. Nothing is ever written outside the caller's buffer.
class image_assembly {
public:
    explicit image_assembly(std::uint8_t* image) : image_(image) {}

    // REQUIRES: `datagram` holds `length` bytes when length > 0 (a negative
    // length reports a failed receive). Does not change the datagram.
    image_step take(const std::uint8_t* datagram, int length);

    bool complete() const { return end_ >= vorex_wire::image_size; }
    // Just past the latest chunk taken, wide enough that no offset wraps.
    std::uint64_t end() const { return end_; }

private:
    void place(std::uint32_t offset, const std::uint8_t* chunk, std::size_t size);

    std::uint8_t* image_;
    std::uint64_t end_ = 0;
};

}  // namespace vorex_data

#endif
