// The library's receive timeout and monotonic clock, the same on every
// platform.
#include <atomic>
#include <chrono>

#include "net/socket.h"

namespace vorex_net {
namespace {
constexpr int default_receive_timeout_ms = 100;
std::atomic<int> receive_timeout_ms{default_receive_timeout_ms};

std::int64_t steady_now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
std::atomic<std::int64_t (*)()> clock{&steady_now_ms};
}  // namespace

int library_receive_timeout_ms() { return receive_timeout_ms.load(std::memory_order_relaxed); }

std::int64_t monotonic_ms() { return clock.load(std::memory_order_relaxed)(); }

}  // namespace vorex_net

namespace vorex_test_seam {
void set_receive_timeout_ms(int milliseconds) {
    vorex_net::receive_timeout_ms.store(milliseconds, std::memory_order_relaxed);
}
void set_clock(std::int64_t (*now_ms)()) { vorex_net::clock.store(now_ms ? now_ms : &vorex_net::steady_now_ms); }
}  // namespace vorex_test_seam
