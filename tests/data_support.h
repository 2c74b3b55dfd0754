// Builders shared by the measurement-data tests: profile datagrams, image
// datagrams and a loopback sender to a session's data port.
#ifndef VOREX_TEST_DATA_SUPPORT_H
#define VOREX_TEST_DATA_SUPPORT_H

#include "support/test_support.h"

namespace vorex_test {

// A profile datagram of the type's full size, samples all zero.
inline bytes profile_datagram(int data_type, std::uint16_t x_scale, std::uint16_t z_scale, std::uint16_t divisor) {
    const std::size_t points = (data_type == 16 || data_type == 17) ? 648 : 1296;
    const bool pairs = data_type == 17 || data_type == 19;
    bytes d(64 + points * (pairs ? 4 : 2), 0);
    d[0] = static_cast<std::uint8_t>(data_type);
    // The sensor's own header bytes must come back unchanged: fill them.
    for (std::size_t i = 1; i < 64; ++i) d[i] = static_cast<std::uint8_t>(0xC0 ^ i);
    vorex_wire::store_u16_le(&d[28], z_scale);
    vorex_wire::store_u16_le(&d[30], x_scale);
    vorex_wire::store_u16_le(&d[32], divisor);
    return d;
}

inline void set_value(bytes& d, std::size_t i, std::uint16_t v) { vorex_wire::store_u16_le(&d[64 + 2 * i], v); }
inline void set_pair(bytes& d, std::size_t i, std::uint16_t x, std::uint16_t z) {
    vorex_wire::store_u16_le(&d[64 + 4 * i], x);
    vorex_wire::store_u16_le(&d[66 + 4 * i], z);
}

// Sends datagrams from its own loopback socket to 127.0.0.1:port.
class loopback_sender {
public:
    explicit loopback_sender(std::uint16_t port) : socket_(vorex_net::open_udp()), to_{loopback, port} {}
    ~loopback_sender() { vorex_net::close(socket_); }
    loopback_sender(const loopback_sender&) = delete;
    loopback_sender& operator=(const loopback_sender&) = delete;

    bool send(const bytes& d) const {
        return vorex_net::send_to(socket_, d.data(), d.size(), to_) == static_cast<int>(d.size());
    }

private:
    vorex_net::handle socket_;
    vorex_net::endpoint to_;
};

// The byte every test image holds at position p, so a buffer assembled from
// chunks in any order can be checked against one pattern.
inline std::uint8_t image_byte(std::size_t p) { return static_cast<std::uint8_t>(p * 31 + 7 + (p >> 11)); }

// An image datagram: header with `flags` and `counter`, the offset, then
// `size` bytes of the test pattern from that offset on.
inline bytes image_datagram(std::uint8_t flags, std::uint16_t counter, std::uint32_t offset, std::size_t size) {
    bytes d = header_bytes(flags, 0x0A0B0C0D, counter, 0x53, 0x10, static_cast<std::uint16_t>(4 + size));
    d.resize(18 + size);
    vorex_wire::store_u32_le(&d[14], offset);
    for (std::size_t k = 0; k < size; ++k) d[18 + k] = image_byte(std::size_t{offset} + k);
    return d;
}

}  // namespace vorex_test

#endif
