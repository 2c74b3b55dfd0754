// A network made of one fuzz input. fake_socket.cpp implements
// src/net/socket.h for the fuzz targets only: every receive, on any socket,
// takes the next datagram of the input, and every send is recorded, so the
// library's real code runs each input path on arbitrary bytes without a
// socket or a clock.
//
// Input format: datagrams one after another, each a little-endian 16-bit
// length and that many bytes (the last one takes what is left). The length
// 0xFFFF stands for one empty receive (the receive timeout) instead. Once
// the input is used up, every receive times out.
//
// Time is the network's too: the clock starts at 0 with each input and
// every receive moves it on, by datagram_ms for a datagram and by the
// receive timeout for an empty receive, so the bounds on time that end a
// flood are judged exactly.
#ifndef VOREX_FUZZ_FAKE_SOCKET_H
#define VOREX_FUZZ_FAKE_SOCKET_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/socket.h"

namespace vorex_fuzz {

using bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t empty_receive = 0xFFFF;
// What receiving one datagram costs on the fake clock.
constexpr int datagram_ms = 10;
// The most receives a wait that ends within `bound_ms` can make.
constexpr std::size_t receives_within(int bound_ms) { return static_cast<std::size_t>(bound_ms / datagram_ms) + 1; }

struct sent_datagram {
    vorex_net::handle socket;
    bytes data;
    vorex_net::endpoint to;
};

struct received {
    vorex_net::handle socket;
    int result;  // what receive returned
    bytes data;  // what it delivered
};

// Makes `data` the network's input and forgets all sends and receives.
// From the send numbered `failing_send` on (0 = the first), sends report one
// byte short; a negative value keeps every send whole.
void reset(const std::uint8_t* data, std::size_t size, int failing_send = -1);

const std::vector<sent_datagram>& sends();
const std::vector<received>& receives();
// Sockets opened and not yet closed.
int open_sockets();

// The datagrams of an input, as reset() would serve them (empty receives
// as empty entries are left out).
std::vector<bytes> split(const std::uint8_t* data, std::size_t size);

// The host addresses the fake platform reports: two usable ones around
// 127.0.0.1, which discovery skips.
constexpr std::uint32_t host_a = 0x0100000A;  // 10.0.0.1 as stored
constexpr std::uint32_t host_b = 0x0101A8C0;  // 192.168.1.1 as stored

}  // namespace vorex_fuzz

#endif
