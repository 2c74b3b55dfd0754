#include "net/socket.h"
#include "net/ipv4_address.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace vorex_net {
namespace {

// Per thread, like errno and WSAGetLastError.
thread_local bool last_address_in_use = false;

int fd_of(handle h) { return static_cast<int>(h); }

bool set_int_option(handle h, int level, int name, int value) {
    return ::setsockopt(fd_of(h), level, name, &value, sizeof value) == 0;
}

}  // namespace

bool start() { return true; }
void stop() {}

handle open_udp() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return fd < 0 ? invalid_handle : static_cast<handle>(fd);
}

void close(handle h) {
    if (h != invalid_handle) ::close(fd_of(h));
}

handle duplicate(handle h) {
    if (h == invalid_handle) return invalid_handle;
    int fd = ::fcntl(fd_of(h), F_DUPFD_CLOEXEC, 0);
    return fd < 0 ? invalid_handle : static_cast<handle>(fd);
}

bool set_receive_timeout(handle h, int milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    return ::setsockopt(fd_of(h), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool set_broadcast(handle h) { return set_int_option(h, SOL_SOCKET, SO_BROADCAST, 1); }
bool set_reuse_address(handle h) { return set_int_option(h, SOL_SOCKET, SO_REUSEADDR, 1); }

bool set_receive_buffer(handle h, int bytes) {
    // The forcing variant needs CAP_NET_ADMIN; without it the plain one is
    // silently clamped to net.core.rmem_max.
    return set_int_option(h, SOL_SOCKET, SO_RCVBUFFORCE, bytes) || set_int_option(h, SOL_SOCKET, SO_RCVBUF, bytes);
}

int receive_buffer_size(handle h) {
    int value = 0;
    socklen_t len = sizeof value;
    return ::getsockopt(fd_of(h), SOL_SOCKET, SO_RCVBUF, &value, &len) == 0 ? value : -1;
}

bool bind(handle h, endpoint local) {
    sockaddr_in a = to_sockaddr(local);
    bool ok = ::bind(fd_of(h), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    last_address_in_use = !ok && errno == EADDRINUSE;
    return ok;
}

bool local_endpoint(handle h, endpoint* local) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd_of(h), reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
    *local = from_sockaddr(a);
    return true;
}

bool last_error_address_in_use() { return last_address_in_use; }

int send_to(handle h, const void* data, std::size_t length, endpoint to) {
    sockaddr_in a = to_sockaddr(to);
    ssize_t n = ::sendto(fd_of(h), data, length, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return n < 0 ? -1 : static_cast<int>(n);
}

int receive(handle h, void* buffer, std::size_t capacity, endpoint* from) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    // MSG_TRUNC reports the real length, so an oversize datagram fails the
    // receive as it does on platforms that refuse it outright.
    ssize_t n;
    do {
        n = ::recvfrom(fd_of(h), buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&a), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || static_cast<std::size_t>(n) > capacity) return -1;
    if (from) *from = from_sockaddr(a);
    return static_cast<int>(n);
}

std::vector<std::uint32_t> up_ipv4_addresses() {
    std::vector<std::uint32_t> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    // getifaddrs lists IPv4 entries by interface index, addresses in the
    // order they were added: a stable order, as the adapter walk needs.
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        // Operationally up: administratively up and with carrier.
        if (!(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_RUNNING)) continue;
        out.push_back(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    }
    ::freeifaddrs(list);
    return out;
}

}  // namespace vorex_net
