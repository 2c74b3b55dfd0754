#include "sim/udp_endpoint.h"

#include <algorithm>
#include <stdexcept>

namespace vorex_sim {
namespace {
// Short, so delayed sends go out close to their time and stop is prompt.
constexpr int poll_ms = 2;
constexpr std::size_t max_datagram = 65536;
}  // namespace

udp_endpoint::udp_endpoint(vorex_net::endpoint local, handler on_datagram, bool broadcast)
    : socket_(vorex_net::open_udp()), handler_(std::move(on_datagram)) {
    if (socket_ == vorex_net::invalid_handle) throw std::runtime_error("cannot open a UDP socket");
    vorex_net::set_receive_timeout(socket_, poll_ms);
    if (broadcast) vorex_net::set_broadcast(socket_);
    // Only a fixed port is shared (several simulated sensors on the
    // discovery port). With address reuse, Linux may hand out an ephemeral
    // port that another reusing socket already holds, and datagrams meant
    // for one simulated sensor then reach another, in this process or in a
    // test running beside it.
    if (local.port != 0) vorex_net::set_reuse_address(socket_);
    if (!vorex_net::bind(socket_, local) || !vorex_net::local_endpoint(socket_, &local_)) {
        vorex_net::close(socket_);
        throw std::runtime_error("cannot bind the simulated sensor's socket");
    }
    thread_ = std::thread([this] { run(); });
}

udp_endpoint::~udp_endpoint() {
    stop_ = true;
    thread_.join();
    vorex_net::close(socket_);
}

void udp_endpoint::set_handler(handler on_datagram) {
    std::lock_guard<std::mutex> guard(mutex_);
    handler_ = std::move(on_datagram);
}

void udp_endpoint::send(const bytes& data, vorex_net::endpoint to, std::chrono::milliseconds delay) {
    if (delay.count() <= 0) {
        vorex_net::send_to(socket_, data.data(), data.size(), to);
        return;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    pending_.push_back({data, to, clock::now() + delay});
}

std::vector<datagram> udp_endpoint::wire() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return wire_;
}

std::size_t udp_endpoint::wire_size() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return wire_.size();
}

void udp_endpoint::clear_wire() {
    std::lock_guard<std::mutex> guard(mutex_);
    wire_.clear();
}

bool udp_endpoint::wait_for(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return received_.wait_for(lock, timeout, [&] { return wire_.size() >= count; });
}

vorex_net::endpoint udp_endpoint::last_peer() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return last_peer_;
}

void udp_endpoint::send_due() {
    std::vector<pending> due;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto now = clock::now();
        auto split = std::stable_partition(pending_.begin(), pending_.end(),
                                           [&](const pending& p) { return p.due > now; });
        due.assign(std::make_move_iterator(split), std::make_move_iterator(pending_.end()));
        pending_.erase(split, pending_.end());
    }
    for (const pending& p : due) vorex_net::send_to(socket_, p.data.data(), p.data.size(), p.to);
}

void udp_endpoint::run() {
    bytes buffer(max_datagram);
    while (!stop_) {
        send_due();
        vorex_net::endpoint from;
        int n = vorex_net::receive(socket_, buffer.data(), buffer.size(), &from);
        if (n < 0) continue;
        datagram d{bytes(buffer.begin(), buffer.begin() + n), from, clock::now()};
        handler h;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            wire_.push_back(d);
            last_peer_ = from;
            h = handler_;
        }
        received_.notify_all();
        if (h) h(d, *this);
    }
}

}  // namespace vorex_sim
