// 64-bit file offsets in the 32-bit build too: firmware files reach 4 GiB.
#define _FILE_OFFSET_BITS 64

#include "net/socket.h"
#include "net/ipv4_address.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>

namespace vorex_net {
namespace {

// Per thread, like errno and WSAGetLastError.
thread_local bool last_address_in_use = false;

int fd_of(handle h) { return static_cast<int>(h); }

bool set_int_option(handle h, int level, int name, int value) {
    return ::setsockopt(fd_of(h), level, name, &value, sizeof value) == 0;
}

using steady = std::chrono::steady_clock;

// The socket's receive timeout in milliseconds; 0 waits for ever.
int receive_timeout_of(int fd) {
    timeval tv{};
    socklen_t len = sizeof tv;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len) != 0) return 0;
    return static_cast<int>(tv.tv_sec * 1000 + (tv.tv_usec + 999) / 1000);
}

// Waits until one of `fds` is readable, for at most `timeout_ms` counted
// from `started` (0: for ever). A signal ends one poll, never the wait.
// The index of a readable socket, or -1.
int wait_readable(pollfd* fds, nfds_t count, int timeout_ms, steady::time_point started) {
    const steady::time_point deadline = started + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int left = -1;
        if (timeout_ms > 0) {
            const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady::now()).count();
            if (rest <= 0) return -1;
            left = static_cast<int>(rest);
        }
        const int ready = ::poll(fds, count, left);
        if (ready > 0) {
            for (nfds_t i = 0; i < count; ++i)
                if (fds[i].revents) return static_cast<int>(i);
        }
        if (ready == 0 || errno != EINTR) return -1;
    }
}

std::int64_t nanoseconds_of(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

std::int64_t wall_clock_ns() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds_of(now);
}

// The kernel's receive time from a message's control data, when
// SO_TIMESTAMPNS put it there; otherwise now.
std::int64_t arrival_of(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
        timespec at{};
        std::memcpy(&at, CMSG_DATA(c), sizeof at);
        return nanoseconds_of(at);
    }
    return wall_clock_ns();
}

// One recvmsg. MSG_TRUNC reports the real length, so an oversize datagram
// fails the receive as it does on platforms that refuse it outright.
int take_datagram(int fd, void* buffer, std::size_t capacity, int flags, endpoint* from,
                  std::int64_t* received_ns) {
    sockaddr_in a{};
    iovec data{buffer, capacity};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_name = &a;
    message.msg_namelen = sizeof a;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    if (received_ns) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    const ssize_t n = ::recvmsg(fd, &message, flags | MSG_TRUNC);
    if (n < 0) return -1;
    if (static_cast<std::size_t>(n) > capacity) return oversize_datagram;
    if (from) *from = from_sockaddr(a);
    if (received_ns) *received_ns = arrival_of(message);
    return static_cast<int>(n);
}

bool interrupted_or_raced() { return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK; }

// Waits for a datagram on any of `fds` for the rest of `timeout_ms` since
// `started`, then takes it without blocking.
int take_when_readable(pollfd* fds, nfds_t count, int timeout_ms, steady::time_point started, void* buffer,
                       std::size_t capacity, endpoint* from, std::int64_t* received_ns = nullptr) {
    for (;;) {
        const int which = wait_readable(fds, count, timeout_ms, started);
        if (which < 0) return -1;
        errno = 0;
        const int n = take_datagram(fds[which].fd, buffer, capacity, MSG_DONTWAIT, from, received_ns);
        // Another owner of the socket may have taken the datagram first.
        if (n == -1 && interrupted_or_raced()) continue;
        return n;
    }
}

int receive_one(handle h, void* buffer, std::size_t capacity, endpoint* from, std::int64_t* received_ns) {
    const steady::time_point started = steady::now();
    const int n = take_datagram(fd_of(h), buffer, capacity, 0, from, received_ns);
    // Linux ends a receive that has a timeout with EINTR even under
    // SA_RESTART, and calling it again would start a fresh timeout: a
    // periodic signal would make the wait endless.
    if (n != -1 || errno != EINTR) return n;
    pollfd fd{fd_of(h), POLLIN, 0};
    return take_when_readable(&fd, 1, receive_timeout_of(fd_of(h)), started, buffer, capacity, from, received_ns);
}

struct ifaddrs_release {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};

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
    ssize_t n;
    do {
        n = ::sendto(fd_of(h), data, length, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int receive(handle h, void* buffer, std::size_t capacity, endpoint* from) {
    return receive_one(h, buffer, capacity, from, nullptr);
}

bool set_receive_timestamps(handle h) { return set_int_option(h, SOL_SOCKET, SO_TIMESTAMPNS, 1); }

int receive_stamped(handle h, void* buffer, std::size_t capacity, std::int64_t* received_ns) {
    return receive_one(h, buffer, capacity, nullptr, received_ns);
}

int receive_any(const handle* sockets, std::size_t count, void* buffer, std::size_t capacity, endpoint* from) {
    constexpr std::size_t most = 4;
    if (count == 0 || count > most) return -1;
    pollfd fds[most];
    for (std::size_t i = 0; i < count; ++i) fds[i] = pollfd{fd_of(sockets[i]), POLLIN, 0};
    return take_when_readable(fds, static_cast<nfds_t>(count), receive_timeout_of(fds[0].fd), steady::now(), buffer,
                              capacity, from);
}

handle open_broadcast_receiver(std::uint16_t port) {
    handle h = open_udp();
    if (h == invalid_handle) return h;
    set_receive_timeout(h, library_receive_timeout_ms());
    if (!bind(h, {0xFFFFFFFF, port})) {
        close(h);
        return invalid_handle;
    }
    return h;
}

std::FILE* open_file_for_reading(const char* path) { return std::fopen(path, "rbe"); }

std::int64_t file_size(std::FILE* file) {
    struct stat st {};
    if (::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

std::vector<std::uint32_t> up_ipv4_addresses() {
    std::vector<std::uint32_t> out;
    ifaddrs* first = nullptr;
    if (::getifaddrs(&first) != 0) return out;
    const std::unique_ptr<ifaddrs, ifaddrs_release> list(first);
    // getifaddrs lists IPv4 entries by interface index, addresses in the
    // order they were added: a stable order, as the adapter walk needs.
    for (ifaddrs* i = list.get(); i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        // Operationally up: administratively up and with carrier.
        if (!(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_RUNNING)) continue;
        out.push_back(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    }
    return out;
}

}  // namespace vorex_net
