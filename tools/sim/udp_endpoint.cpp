#include "sim/udp_endpoint.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace vorex_sim {
namespace {
// Short, so delayed sends go out close to their time and stop is prompt.
constexpr int poll_ms = 2;
constexpr std::size_t max_datagram = 65536;

std::string dotted(vorex_net::endpoint e) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&e.address);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]) + ":" + std::to_string(e.port);
}

// Why a bind just failed, in the system's words. The socket layer tells
// only whether the address was in use; the rest comes from errno, which
// POSIX sockets set (Winsock does not: there the reason may be missing).
std::string bind_failure(int saved_errno) {
    if (vorex_net::last_error_address_in_use()) return std::generic_category().message(EADDRINUSE);
    return saved_errno != 0 ? std::generic_category().message(saved_errno) : "the socket layer refused it";
}
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
    errno = 0;
    if (!vorex_net::bind(socket_, local)) {
        const std::string reason = bind_failure(errno);
        vorex_net::close(socket_);
        throw std::runtime_error("cannot bind the simulated sensor's socket to " + dotted(local) + ": " + reason);
    }
    if (!vorex_net::local_endpoint(socket_, &local_)) {
        vorex_net::close(socket_);
        throw std::runtime_error("cannot read the address of the simulated sensor's socket");
    }
    thread_ = std::thread([this] { run(); });
}

udp_endpoint::~udp_endpoint() {
    stop_ = true;
    thread_.join();
    vorex_net::close(socket_);
    vorex_net::close(other_socket_);
}

void udp_endpoint::set_handler(handler on_datagram) {
    std::lock_guard<std::mutex> guard(mutex_);
    handler_ = std::move(on_datagram);
}

void udp_endpoint::send(const bytes& data, vorex_net::endpoint to, std::chrono::milliseconds delay) {
    std::shared_ptr<fault_injector> faults;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        faults = faults_;
    }
    if (!faults && delay.count() <= 0) return send_now(data, to, false);
    std::vector<fault_injector::outgoing> out;
    if (faults) out = faults->shape(data);
    else out.push_back({data, std::chrono::milliseconds(0), false});
    for (auto& o : out) {
        const auto wait = delay + o.delay;
        if (wait.count() <= 0) {
            send_now(o.data, to, o.from_other_address);
            continue;
        }
        std::lock_guard<std::mutex> guard(mutex_);
        pending_.push_back({std::move(o.data), to, clock::now() + wait, o.from_other_address});
    }
}

void udp_endpoint::send_now(const bytes& data, vorex_net::endpoint to, bool from_other_address) {
    const vorex_net::handle h = from_other_address && other_socket_ != vorex_net::invalid_handle ? other_socket_ : socket_;
    vorex_net::send_to(h, data.data(), data.size(), to);
}

void udp_endpoint::set_faults(std::shared_ptr<fault_injector> faults, std::function<void()> on_reboot) {
    vorex_net::handle other = vorex_net::open_udp();
    if (other != vorex_net::invalid_handle && !vorex_net::bind(other, {local_.address, 0})) {
        vorex_net::close(other);
        other = vorex_net::invalid_handle;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    // Set once, before the faults take effect, so senders never see it change.
    if (other_socket_ == vorex_net::invalid_handle) other_socket_ = other;
    else vorex_net::close(other);
    faults_ = std::move(faults);
    on_reboot_ = std::move(on_reboot);
}

void udp_endpoint::set_flood_data_target(vorex_net::endpoint to) {
    std::lock_guard<std::mutex> guard(mutex_);
    flood_data_to_ = to;
}

std::vector<datagram> udp_endpoint::wire() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return wire_;
}

void udp_endpoint::set_recording(bool on) {
    std::lock_guard<std::mutex> guard(mutex_);
    recording_ = on;
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

std::size_t udp_endpoint::pending_sends() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return pending_.size();
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
    for (const pending& p : due) send_now(p.data, p.to, p.from_other_address);
}

// Junk at the configured rates; a thread that fell behind catches up in
// bursts of a bounded size rather than all at once.
void udp_endpoint::flood() {
    constexpr int most_per_round = 64;
    std::shared_ptr<fault_injector> faults;
    vorex_net::endpoint targets[2];
    clock::time_point* next[2] = {&next_service_junk_, &next_data_junk_};
    {
        std::lock_guard<std::mutex> guard(mutex_);
        faults = faults_;
        targets[0] = last_peer_;
        targets[1] = flood_data_to_;
    }
    if (!faults) return;
    const double rates[2] = {faults->config().flood_service, faults->config().flood_data};
    const auto now = clock::now();
    for (int k = 0; k < 2; ++k) {
        if (rates[k] <= 0 || targets[k].port == 0) continue;
        if (*next[k] == clock::time_point{}) *next[k] = now;
        const auto period = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / rates[k]));
        for (int sent = 0; *next[k] <= now && sent < most_per_round; ++sent) {
            const bytes junk = faults->junk(k == 1);
            vorex_net::send_to(socket_, junk.data(), junk.size(), targets[k]);
            faults->count_flooded();
            *next[k] += period;
        }
        if (*next[k] < now) *next[k] = now;
    }
}

bool udp_endpoint::silenced() {
    std::shared_ptr<fault_injector> faults;
    std::function<void()> on_reboot;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        faults = faults_;
        on_reboot = on_reboot_;
    }
    bool rebooted = false;
    if (!faults || !faults->silent_on_receive(&rebooted)) return false;
    if (rebooted && on_reboot) on_reboot();
    return true;
}

void udp_endpoint::run() {
    bytes buffer(max_datagram);
    while (!stop_) {
        send_due();
        flood();
        vorex_net::endpoint from;
        int n = vorex_net::receive(socket_, buffer.data(), buffer.size(), &from);
        if (n < 0) continue;
        datagram d{bytes(buffer.begin(), buffer.begin() + n), from, clock::now()};
        handler h;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (recording_) wire_.push_back(d);
            last_peer_ = from;
            h = handler_;
        }
        received_.notify_all();
        if (h && !silenced()) h(d, *this);
    }
}

}  // namespace vorex_sim
