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
#include <cstdio>
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

// Owns one socket: closes it when it goes out of scope, on every path.
class owned_socket {
public:
    explicit owned_socket(handle h) : h_(h) {}
    ~owned_socket() { close(h_); }
    owned_socket(const owned_socket&) = delete;
    owned_socket& operator=(const owned_socket&) = delete;

    handle get() const { return h_; }
    bool valid() const { return h_ != invalid_handle; }

private:
    handle h_;
};

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

// What receive returns for a datagram longer than the capacity: it is
// consumed and fails the receive, never arriving shortened. Negative, so
// callers that only ask "did a datagram come" treat it as a failure.
constexpr int oversize_datagram = -2;
// Receives one datagram of at most `capacity` bytes. Returns its length;
// -1 when the socket's receive timeout passed or the receive failed;
// oversize_datagram for a longer one. A signal never ends the wait early
// and never restarts it: the receive goes on for the rest of its timeout.
// A port-unreachable report of an earlier send never fails it.
// `from` receives the sender when given.
int receive(handle h, void* buffer, std::size_t capacity, endpoint* from = nullptr);
// Has the platform note when each datagram reaches the socket, for
// receive_stamped. False where it cannot (the stamp is then the time the
// receive returned).
bool set_receive_timestamps(handle h);
// receive, with when the datagram reached the host, in nanoseconds since
// the Unix epoch: the kernel's time where set_receive_timestamps took,
// otherwise the time the receive returned. Set only on success.
int receive_stamped(handle h, void* buffer, std::size_t capacity, std::int64_t* received_ns);
// The same from whichever of `count` sockets has a datagram first, waiting
// as long as the first socket's receive timeout.
int receive_any(const handle* sockets, std::size_t count, void* buffer, std::size_t capacity,
                endpoint* from = nullptr);

// A socket that receives the datagrams sent to the limited broadcast
// address at `port`, for platforms where a socket bound to a unicast
// address does not (Linux). invalid_handle where that socket already gets
// them (Windows), or when the socket cannot be made.
handle open_broadcast_receiver(std::uint16_t port);

// A file opened for binary reading that a child process does not inherit,
// or null. The caller owns it (std::fclose).
std::FILE* open_file_for_reading(const char* path);
// The size of an open regular file in bytes, 64-bit wide on every build,
// or -1 when it cannot be told (a pipe, some files under /proc).
std::int64_t file_size(std::FILE* file);

// A monotonic clock in milliseconds. Waits are counted in empty receives;
// this clock only bounds how long a flood of other datagrams can hold one.
std::int64_t monotonic_ms();

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
// Replaces the monotonic clock, so that tests judge flood bounds against a
// clock they drive; null restores the real one.
void set_clock(std::int64_t (*now_ms)());
}  // namespace vorex_test_seam

#endif
