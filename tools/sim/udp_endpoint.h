// One UDP socket of the simulated sensor with its own thread: it records
// every datagram it receives (the wire, as tests assert it) and hands each
// to a handler, which may answer at once or after a delay.
#ifndef VOREX_SIM_UDP_ENDPOINT_H
#define VOREX_SIM_UDP_ENDPOINT_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/socket.h"
#include "sim/faults.h"

namespace vorex_sim {

using bytes = std::vector<std::uint8_t>;
using clock = std::chrono::steady_clock;

struct datagram {
    bytes data;
    vorex_net::endpoint from;
    clock::time_point at;
};

class udp_endpoint {
public:
    using handler = std::function<void(const datagram&, udp_endpoint&)>;

    // Binds to `local` (port 0 picks a free one). Throws std::runtime_error
    // when the socket cannot be opened or bound.
    explicit udp_endpoint(vorex_net::endpoint local, handler on_datagram = nullptr, bool broadcast = false);
    ~udp_endpoint();
    udp_endpoint(const udp_endpoint&) = delete;
    udp_endpoint& operator=(const udp_endpoint&) = delete;

    vorex_net::endpoint local() const { return local_; }
    void set_handler(handler on_datagram);

    // Sends now, or after `delay` from the endpoint's thread. Thread-safe.
    // With faults, what goes out is what the injector makes of it.
    void send(const bytes& data, vorex_net::endpoint to, std::chrono::milliseconds delay = {});

    // From now on every send passes through `faults`, received datagrams
    // go unanswered while it keeps the endpoint silent (`on_reboot` runs
    // when a reboot starts), and junk floods the latest peer and
    // `flood_data_to` at the configured rates. "Another address" is a
    // second socket on the same host address.
    void set_faults(std::shared_ptr<fault_injector> faults, std::function<void()> on_reboot = nullptr);
    void set_flood_data_target(vorex_net::endpoint to);

    // Everything received so far, in order.
    std::vector<datagram> wire() const;
    std::size_t wire_size() const;
    void clear_wire();
    // Off, received datagrams are handled but not kept (wire(), wire_size()
    // and wait_for see none): benchmarks, whose thousands of datagrams a
    // sensor would not copy either.
    void set_recording(bool on);
    // Waits until at least `count` datagrams were received.
    bool wait_for(std::size_t count, std::chrono::milliseconds timeout) const;
    // Datagrams held back for a later send (delays and faults).
    std::size_t pending_sends() const;
    // The sender of the latest datagram (zero before any).
    vorex_net::endpoint last_peer() const;

private:
    struct pending {
        bytes data;
        vorex_net::endpoint to;
        clock::time_point due;
        bool from_other_address;
    };

    void run();
    void send_due();
    void send_now(const bytes& data, vorex_net::endpoint to, bool from_other_address);
    void flood();
    // True when the datagram just received must go unanswered.
    bool silenced();

    vorex_net::handle socket_;
    vorex_net::endpoint local_{};
    mutable std::mutex mutex_;
    mutable std::condition_variable received_;
    std::vector<datagram> wire_;
    bool recording_ = true;
    std::vector<pending> pending_;
    handler handler_;
    vorex_net::endpoint last_peer_{};
    std::shared_ptr<fault_injector> faults_;
    std::function<void()> on_reboot_;
    vorex_net::handle other_socket_ = vorex_net::invalid_handle;
    vorex_net::endpoint flood_data_to_{};
    clock::time_point next_service_junk_{}, next_data_junk_{};  // the endpoint's thread only
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace vorex_sim

#endif
