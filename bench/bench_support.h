// Pieces the benchmarks share: bare UDP peers that stand for the floor a
// library exchange is compared with, CPU pinning, and a child process that
// hosts a peer on a CPU of its own choosing. Loopback only.
#ifndef VOREX_BENCH_SUPPORT_H
#define VOREX_BENCH_SUPPORT_H

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "net/socket.h"

namespace vorex_bench {

constexpr std::uint32_t loopback = 0x0100007F;  // 127.0.0.1 as stored

// CPU time of the calling thread: on a shared machine the time the code is
// scheduled out is no part of its cost.
template <typename F>
double cpu_seconds_of(F&& f) {
    timespec t0{}, t1{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
    f();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
    return static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) * 1e-9;
}

inline std::uint16_t free_loopback_port() {
    vorex_net::handle h = vorex_net::open_udp();
    vorex_net::endpoint e{};
    vorex_net::bind(h, {loopback, 0});
    vorex_net::local_endpoint(h, &e);
    vorex_net::close(h);
    return e.port;
}

// Pins the calling thread (and what it starts later) to one CPU; false when
// the machine has no such CPU.
inline bool pin_to_cpu(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

// Lets the calling thread run on every CPU again.
inline void pin_to_cpu_any() {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

// A bare UDP peer that answers every datagram with `reply_size` bytes, or,
// given a chunk size, with a stop-and-wait series of chunk datagrams: one
// per 14-byte acknowledgement, `chunks` in all, started by any datagram of
// another size.
class bare_responder {
public:
    explicit bare_responder(std::size_t reply_size, std::size_t chunks = 0)
        : socket_(vorex_net::open_udp()), reply_size_(reply_size), chunks_(chunks) {
        vorex_net::set_receive_timeout(socket_, 20);
        vorex_net::bind(socket_, {loopback, 0});
        vorex_net::local_endpoint(socket_, &local_);
        thread_ = std::thread([this] { serve(); });
    }
    ~bare_responder() {
        stop_ = true;
        thread_.join();
        vorex_net::close(socket_);
    }
    bare_responder(const bare_responder&) = delete;
    bare_responder& operator=(const bare_responder&) = delete;
    vorex_net::endpoint local() const { return local_; }

private:
    void serve() {
        std::vector<std::uint8_t> in(65536), out(reply_size_, 0x14);
        std::size_t left = 0;
        while (!stop_) {
            vorex_net::endpoint from;
            const int n = vorex_net::receive(socket_, in.data(), in.size(), &from);
            if (n <= 0) continue;
            if (chunks_ == 0) {
                vorex_net::send_to(socket_, out.data(), out.size(), from);
                continue;
            }
            if (n != 14) left = chunks_;  // a request starts the series
            if (left > 0) {
                --left;
                vorex_net::send_to(socket_, out.data(), out.size(), from);
            }
        }
    }

    vorex_net::handle socket_;
    std::size_t reply_size_;
    std::size_t chunks_;
    vorex_net::endpoint local_{};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// `exchanges` stop-and-wait round trips of `request_size` bytes against a
// peer that answers with `reply_size`; false when a reply went missing.
inline bool stop_and_wait(vorex_net::endpoint peer, std::size_t exchanges, std::size_t request_size,
                          std::size_t reply_size) {
    vorex_net::handle h = vorex_net::open_udp();
    vorex_net::set_receive_timeout(h, 100);
    vorex_net::bind(h, {loopback, 0});
    std::vector<std::uint8_t> request(request_size, 0x5A), reply(65536);
    bool ok = true;
    for (std::size_t i = 0; i < exchanges && ok; ++i) {
        vorex_net::send_to(h, request.data(), request.size(), peer);
        ok = vorex_net::receive(h, reply.data(), reply.size()) == static_cast<int>(reply_size);
    }
    vorex_net::close(h);
    return ok;
}

// One request, then `chunks` datagrams of `chunk_datagram` bytes, each
// answered by a 14-byte acknowledgement: the image transfer's floor.
inline bool chunked_stop_and_wait(vorex_net::endpoint peer, std::size_t chunks, std::size_t chunk_datagram) {
    vorex_net::handle h = vorex_net::open_udp();
    vorex_net::set_receive_timeout(h, 100);
    vorex_net::bind(h, {loopback, 0});
    std::vector<std::uint8_t> request(15, 0x5A), buffer(65536);
    vorex_net::send_to(h, request.data(), request.size(), peer);
    bool ok = true;
    for (std::size_t i = 0; i < chunks && ok; ++i) {
        ok = vorex_net::receive(h, buffer.data(), buffer.size()) == static_cast<int>(chunk_datagram);
        vorex_net::send_to(h, buffer.data(), 14, peer);
    }
    vorex_net::close(h);
    return ok;
}

// A child process pinned to `cpu` that runs `serve` (which reports the
// ports it listens on through `report`) until the parent ends it.
class pinned_child {
public:
    using reporter = std::function<void(const std::vector<std::uint16_t>&)>;
    pinned_child(int cpu, const std::function<void(const reporter&)>& serve, std::size_t ports) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            pin_to_cpu(cpu);
            serve([&](const std::vector<std::uint16_t>& p) {
                if (write(fds[1], p.data(), p.size() * sizeof p[0]) < 0) _exit(1);
                ::close(fds[1]);
            });
            _exit(0);
        }
        ::close(fds[1]);
        ports_.resize(ports);
        const ssize_t want = static_cast<ssize_t>(ports * sizeof ports_[0]);
        if (pid_ < 0 || read(fds[0], ports_.data(), static_cast<std::size_t>(want)) != want) ports_.clear();
        ::close(fds[0]);
    }
    ~pinned_child() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    pinned_child(const pinned_child&) = delete;
    pinned_child& operator=(const pinned_child&) = delete;
    // The ports the child listens on; empty when it failed to start.
    const std::vector<std::uint16_t>& ports() const { return ports_; }

private:
    pid_t pid_ = -1;
    std::vector<std::uint16_t> ports_;
};

// Keeps a child's peers alive until the parent ends it.
inline void serve_forever() {
    for (;;) pause();
}

}  // namespace vorex_bench

#endif
