// Wire codec shared by the library and the simulated sensor.
//
// Everything on the wire is little-endian. Datagrams are never read by
// casting a buffer to a record: the readers below take bytes one by one, and
// every caller has checked the datagram's length before it reads.
#ifndef VOREX_CORE_WIRE_H
#define VOREX_CORE_WIRE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorex_wire {

inline std::uint16_t load_u16_le(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t load_i16_le(const std::uint8_t* p) {
    return static_cast<std::int16_t>(load_u16_le(p));
}
inline std::uint32_t load_u32_le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void store_u16_le(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void store_u32_le(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

constexpr std::size_t header_size = 14;

// Byte offsets inside the 14-byte header.
constexpr std::size_t at_flags = 0;
constexpr std::size_t at_reserved = 1;
constexpr std::size_t at_serial = 4;
constexpr std::size_t at_counter = 8;
constexpr std::size_t at_class = 10;
constexpr std::size_t at_code = 11;
constexpr std::size_t at_payload_length = 12;

constexpr std::uint8_t flags_request = 0x1C;        // type 1, ack_required, bit 2
constexpr std::uint8_t flags_image_request = 0x18;  // type 1, ack_required
constexpr std::uint8_t flags_discovery = 0x14;      // type 1, bit 2
constexpr std::uint8_t flag_ack_required = 0x08;

// The flags of an acknowledgement of a packet whose flags are `f`: type 2,
// bit 2 set, low bits kept.
constexpr std::uint8_t ack_flags(std::uint8_t f) { return static_cast<std::uint8_t>((f & 0x03) | 0x24); }
inline bool asks_ack(const std::uint8_t* header) { return (header[at_flags] & flag_ack_required) != 0; }

constexpr std::uint8_t class_params = 0x50;     // 'P': whole block
constexpr std::uint8_t class_discovery = 0x5E;  // '^': discovery, groups, log
constexpr std::uint8_t class_image = 0x53;      // 'S'
constexpr std::uint8_t class_firmware = 0x5A;   // 'Z'

// Header fields in host form.
struct header {
    std::uint8_t flags = 0;
    std::uint8_t reserved[3] = {0, 0, 0};
    std::uint32_t serial = 0;
    std::uint16_t counter = 0;
    std::uint8_t command_class = 0;
    std::uint8_t command_code = 0;
    std::uint16_t payload_length = 0;
};

inline void encode(const header& h, std::uint8_t* out) {
    out[at_flags] = h.flags;
    std::memcpy(out + at_reserved, h.reserved, 3);
    store_u32_le(out + at_serial, h.serial);
    store_u16_le(out + at_counter, h.counter);
    out[at_class] = h.command_class;
    out[at_code] = h.command_code;
    store_u16_le(out + at_payload_length, h.payload_length);
}

inline header decode(const std::uint8_t* in) {
    header h;
    h.flags = in[at_flags];
    std::memcpy(h.reserved, in + at_reserved, 3);
    h.serial = load_u32_le(in + at_serial);
    h.counter = load_u16_le(in + at_counter);
    h.command_class = in[at_class];
    h.command_code = in[at_code];
    h.payload_length = load_u16_le(in + at_payload_length);
    return h;
}

// The command as the little-endian word of header bytes 10 and 11.
constexpr std::uint16_t command_word(std::uint8_t command_class, std::uint8_t command_code) {
    return static_cast<std::uint16_t>(command_class | (command_code << 8));
}

// Rewrites a received header in place into its acknowledgement.
inline void make_acknowledgement(std::uint8_t* h) {
    h[at_flags] = ack_flags(h[at_flags]);
    store_u16_le(h + at_payload_length, 0);
}

// Device record fields, read from its bytes.
namespace device {
constexpr std::size_t record_size = 524;
constexpr std::size_t at_serial = 66;
constexpr std::size_t at_ip_address = 140;
constexpr std::size_t at_subnet_mask = 144;
constexpr std::size_t at_data_port = 156;
constexpr std::size_t at_service_port = 160;
constexpr std::size_t at_mac_address = 166;
constexpr std::size_t mac_size = 6;
constexpr std::size_t at_image_packet_size = 198;
}  // namespace device

// The discovery port every sensor listens on.
constexpr std::uint16_t discovery_port = 50011;
constexpr std::size_t discovery_reply_size = header_size + device::record_size;

// Image and profile constants shared with the simulated sensor.
constexpr std::size_t image_size = 316224;
constexpr std::size_t image_width = 648;
constexpr std::size_t image_height = 488;

}  // namespace vorex_wire

#endif
