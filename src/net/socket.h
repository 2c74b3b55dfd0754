// The library's only view of the platform's sockets and adapter list.
// socket_posix.cpp implements it on Linux; a Winsock implementation plugs in
// from the same declarations. Nothing outside src/net includes a system
// socket header.
//
// Addresses are IPv4 in network byte order (first octet in the lowest
// byte of memory); ports are in host byte order.
#ifndef VOREX_NET_SOCKET_H
#define VOREX_NET_SOCKET_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vorex_net {

using handle = std::uintptr_t;
constexpr handle invalid_handle = ~handle(0);

struct endpoint {
    std::uint32_t address = 0;  // network byte order
    std::uint16_t port = 0;     // host byte order
};

// Starts and stops the socket layer. start() is true when it is usable.
bool start();
void stop();

// An IPv4 UDP socket, or invalid_handle.
handle open_udp();
void close(handle h);
// A second handle on the same socket, or invalid_handle.
handle duplicate(handle h);

bool set_receive_timeout(handle h, int milliseconds);
bool set_broadcast(handle h);
bool set_reuse_address(handle h);
// Asks for a kernel receive buffer of `bytes`. Where the platform caps the
// request (Linux: net.core.rmem_max) and the process may exceed the cap,
// the cap is passed over. True when the platform took a request at all;
// the size granted is receive_buffer_size's.
bool set_receive_buffer(handle h, int bytes);
// The receive buffer the platform reports for the socket, or -1. Linux
// reports twice what was granted, its bookkeeping included.
int receive_buffer_size(handle h);
bool bind(handle h, endpoint local);
// The local address and port a socket is bound to.
bool local_endpoint(handle h, endpoint* local);
// True when the last failed call on this thread failed because the address
// was already in use.
bool last_error_address_in_use();

// Sends one datagram; the number of bytes the platform reports sent, or -1.
int send_to(handle h, const void* data, std::size_t length, endpoint to);
// Receives one datagram of at most `capacity` bytes. Returns its length, or
// -1 on timeout, error, or a datagram longer than `capacity` (which is
// consumed: a longer datagram is a failed receive, never a shortened one).
// `from` receives the sender when given.
int receive(handle h, void* buffer, std::size_t capacity, endpoint* from = nullptr);

// The IPv4 unicast addresses of the adapters that are operationally up, in
// the platform's stable order. Empty when enumeration fails.
std::vector<std::uint32_t> up_ipv4_addresses();

// The receive timeout the library gives its sockets: 100 ms, shortened only
// by the test seam below.
int library_receive_timeout_ms();

}  // namespace vorex_net

namespace vorex_test_seam {
// Shortens the library's socket receive timeout so tests that count empty
// receives run fast. Only test programs call it; the library never does.
void set_receive_timeout_ms(int milliseconds);
}  // namespace vorex_test_seam

#endif
