// The library's receive timeout, the same on every platform.
#include <atomic>

#include "net/socket.h"

namespace vorex_net {
namespace {
constexpr int default_receive_timeout_ms = 100;
std::atomic<int> receive_timeout_ms{default_receive_timeout_ms};
}  // namespace

int library_receive_timeout_ms() { return receive_timeout_ms.load(std::memory_order_relaxed); }

}  // namespace vorex_net

namespace vorex_test_seam {
void set_receive_timeout_ms(int milliseconds) {
    vorex_net::receive_timeout_ms.store(milliseconds, std::memory_order_relaxed);
}
}  // namespace vorex_test_seam
