// The Winsock 2.2 implementation of socket.h. Where Winsock behaves unlike
// the Linux sockets the rest of the library was written against, the
// difference ends here:
// - a receive timeout is a DWORD of milliseconds and ends the receive with
//   WSAETIMEDOUT: an empty receive, as EAGAIN is on Linux;
// - a datagram longer than the buffer fails with WSAEMSGSIZE and is
//   dropped, which is the failed receive the Linux layer makes of
//   MSG_TRUNC;
// - an ICMP port-unreachable report of an earlier send fails the next
//   receive with WSAECONNRESET at once, which would end waits early: every
//   socket switches those reports off;
// - a socket bound to a unicast address receives broadcasts sent to its
//   port, so discovery needs no second socket here;
// - SO_REUSEADDR lets a socket take a port from one that never asked to
//   share it. Sockets that do not opt in therefore bind with
//   SO_EXCLUSIVEADDRUSE, so a port is shared only when both sides set
//   SO_REUSEADDR, as on Linux;
// - a second owner of a socket comes from WSADuplicateSocket, not dup;
// - sockets are inheritable by default; like SOCK_CLOEXEC descriptors,
//   these are not.
#include "net/socket.h"
#include "net/ipv4_address.h"
#include "net/winsock_parts.h"

#include <sys/stat.h>

#include <chrono>
#include <memory>

namespace vorex_net {
namespace winsock {

failure classify(int wsa_error) {
    switch (wsa_error) {
        case WSAETIMEDOUT: return failure::timed_out;
        case WSAEMSGSIZE: return failure::oversize;
        case WSAECONNRESET: return failure::reset;
        case WSAEADDRINUSE: return failure::address_in_use;
        default: return failure::other;
    }
}

std::vector<std::uint32_t> up_ipv4_addresses(const IP_ADAPTER_ADDRESSES* table) {
    std::vector<std::uint32_t> out;
    for (const IP_ADAPTER_ADDRESSES* a = table; a; a = a->Next) {
        if (a->OperStatus != IfOperStatusUp) continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u; u = u->Next) {
            const SOCKADDR* s = u->Address.lpSockaddr;
            if (!s || s->sa_family != AF_INET) continue;
            out.push_back(reinterpret_cast<const sockaddr_in*>(s)->sin_addr.s_addr);
        }
    }
    return out;
}

std::vector<std::uint32_t> up_ipv4_addresses(adapter_query query) {
    constexpr ULONG flags = GAA_FLAG_INCLUDE_PREFIX;
    ULONG size = 0;
    if (query(AF_UNSPEC, flags, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW) return {};
    for (int attempt = 0; attempt < table_attempts; ++attempt) {
        // The table holds pointers and 64-bit fields: allocate it aligned.
        const std::size_t words = (size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);
        std::unique_ptr<std::uint64_t[]> storage(new std::uint64_t[words]);
        auto* table = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.get());
        const ULONG answer = query(AF_UNSPEC, flags, nullptr, table, &size);
        if (answer == NO_ERROR) return up_ipv4_addresses(table);
        if (answer != ERROR_BUFFER_OVERFLOW) return {};
    }
    return {};
}

bool stop_unreachable_reports(SOCKET s, socket_ioctl ioctl) {
    bool all = true;
    for (DWORD code : {DWORD(SIO_UDP_CONNRESET), DWORD(SIO_UDP_NETRESET)}) {
        BOOL report = FALSE;
        DWORD returned = 0;
        all = ioctl(s, code, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr) == 0 && all;
    }
    return all;
}

bool layer_starts::start(startup_call startup) {
    WSADATA data;
    if (startup(MAKEWORD(2, 2), &data) != 0) return false;
    ++started_;
    return true;
}

void layer_starts::stop(cleanup_call cleanup) {
    int n = started_.load();
    while (n > 0 && !started_.compare_exchange_weak(n, n - 1)) {
    }
    if (n > 0) cleanup();
}

}  // namespace winsock

namespace {

constexpr DWORD socket_flags = WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT;

// Per thread, like WSAGetLastError.
thread_local bool last_address_in_use = false;

SOCKET socket_of(handle h) { return static_cast<SOCKET>(h); }

winsock::failure last_failure() { return winsock::classify(WSAGetLastError()); }

bool set_option(handle h, int name, DWORD value) {
    return ::setsockopt(socket_of(h), SOL_SOCKET, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool reuses_address(handle h) {
    BOOL on = FALSE;
    int len = sizeof on;
    return ::getsockopt(socket_of(h), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&on), &len) == 0 && on;
}

}  // namespace

namespace {
winsock::layer_starts layer;
}  // namespace

bool start() { return layer.start(&::WSAStartup); }

void stop() { layer.stop(&::WSACleanup); }

handle open_udp() {
    SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, socket_flags);
    if (s == INVALID_SOCKET) return invalid_handle;
    winsock::stop_unreachable_reports(s, &::WSAIoctl);
    return static_cast<handle>(s);
}

void close(handle h) {
    if (h != invalid_handle) ::closesocket(socket_of(h));
}

handle duplicate(handle h) {
    if (h == invalid_handle) return invalid_handle;
    WSAPROTOCOL_INFOW info{};
    if (::WSADuplicateSocketW(socket_of(h), ::GetCurrentProcessId(), &info) != 0) return invalid_handle;
    SOCKET s = ::WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0, socket_flags);
    return s == INVALID_SOCKET ? invalid_handle : static_cast<handle>(s);
}

bool set_receive_timeout(handle h, int milliseconds) {
    return set_option(h, SO_RCVTIMEO, static_cast<DWORD>(milliseconds));
}

bool set_broadcast(handle h) { return set_option(h, SO_BROADCAST, TRUE); }

bool set_reuse_address(handle h) {
    // The two options exclude each other; a socket that failed an exclusive
    // bind gives up the exclusive claim before it asks to share.
    set_option(h, SO_EXCLUSIVEADDRUSE, FALSE);
    return set_option(h, SO_REUSEADDR, TRUE);
}

// Windows has no cap like rmem_max to pass over, and reports the size as
// set, not doubled.
bool set_receive_buffer(handle h, int bytes) { return set_option(h, SO_RCVBUF, static_cast<DWORD>(bytes)); }

int receive_buffer_size(handle h) {
    int value = 0;
    int len = sizeof value;
    return ::getsockopt(socket_of(h), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &len) == 0 ? value : -1;
}

bool bind(handle h, endpoint local) {
    if (!reuses_address(h)) set_option(h, SO_EXCLUSIVEADDRUSE, TRUE);
    sockaddr_in a = to_sockaddr(local);
    bool ok = ::bind(socket_of(h), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    last_address_in_use = !ok && last_failure() == winsock::failure::address_in_use;
    return ok;
}

bool local_endpoint(handle h, endpoint* local) {
    sockaddr_in a{};
    int len = sizeof a;
    if (::getsockname(socket_of(h), reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
    *local = from_sockaddr(a);
    return true;
}

bool last_error_address_in_use() { return last_address_in_use; }

int send_to(handle h, const void* data, std::size_t length, endpoint to) {
    sockaddr_in a = to_sockaddr(to);
    int n = ::sendto(socket_of(h), static_cast<const char*>(data), static_cast<int>(length), 0,
                     reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return n == SOCKET_ERROR ? -1 : n;
}

int receive(handle h, void* buffer, std::size_t capacity, endpoint* from) {
    sockaddr_in a{};
    int len = sizeof a;
    int n = ::recvfrom(socket_of(h), static_cast<char*>(buffer), static_cast<int>(capacity), 0,
                       reinterpret_cast<sockaddr*>(&a), &len);
    if (n == SOCKET_ERROR) return last_failure() == winsock::failure::oversize ? oversize_datagram : -1;
    if (from) *from = from_sockaddr(a);
    return n;
}

// Winsock has no per-datagram arrival time for UDP: the stamp is the time
// the receive returned.
bool set_receive_timestamps(handle) { return false; }

int receive_stamped(handle h, void* buffer, std::size_t capacity, std::int64_t* received_ns) {
    const int n = receive(h, buffer, capacity, nullptr);
    if (n >= 0) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        *received_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    }
    return n;
}

int receive_any(const handle* sockets, std::size_t count, void* buffer, std::size_t capacity, endpoint* from) {
    if (count == 0 || count > FD_SETSIZE) return -1;
    DWORD timeout = 0;
    int len = sizeof timeout;
    ::getsockopt(socket_of(sockets[0]), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), &len);
    fd_set readable;
    FD_ZERO(&readable);
    for (std::size_t i = 0; i < count; ++i) FD_SET(socket_of(sockets[i]), &readable);
    timeval tv{static_cast<long>(timeout / 1000), static_cast<long>(timeout % 1000 * 1000)};
    if (::select(0, &readable, nullptr, nullptr, timeout ? &tv : nullptr) <= 0) return -1;
    for (std::size_t i = 0; i < count; ++i)
        if (FD_ISSET(socket_of(sockets[i]), &readable)) return receive(sockets[i], buffer, capacity, from);
    return -1;
}

handle open_broadcast_receiver(std::uint16_t) { return invalid_handle; }

std::FILE* open_file_for_reading(const char* path) { return std::fopen(path, "rbN"); }

std::int64_t file_size(std::FILE* file) {
    struct _stat64 st {};
    if (::_fstat64(::_fileno(file), &st) != 0 || !(st.st_mode & _S_IFREG)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

std::vector<std::uint32_t> up_ipv4_addresses() { return winsock::up_ipv4_addresses(&::GetAdaptersAddresses); }

}  // namespace vorex_net
