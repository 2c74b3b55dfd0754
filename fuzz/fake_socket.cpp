#include "fake_socket.h"

#include <cstring>
#include <deque>
#include <set>

namespace vorex_fuzz {
namespace {

// A datagram still to be served; `empty` marks a timed-out receive.
struct queued {
    bytes data;
    bool empty;
};

struct network {
    std::deque<queued> input;
    std::vector<sent_datagram> sent;
    std::vector<received> taken;
    std::set<vorex_net::handle> open;
    vorex_net::handle next_handle = 3;
    int failing_send = -1;
    std::int64_t now_ms = 0;
};

network& net() {
    static network n;
    return n;
}

template <typename F>
void walk(const std::uint8_t* data, std::size_t size, F&& each) {
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint16_t length = static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
        at += 2;
        if (length == empty_receive) {
            each(bytes(), true);
            continue;
        }
        const std::size_t n = length < size - at ? length : size - at;
        each(bytes(data + at, data + at + n), false);
        at += n;
    }
}

}  // namespace

void reset(const std::uint8_t* data, std::size_t size, int failing_send) {
    network& n = net();
    n.input.clear();
    n.sent.clear();
    n.taken.clear();
    n.failing_send = failing_send;
    n.now_ms = 0;
    walk(data, size, [&](bytes d, bool empty) { n.input.push_back({std::move(d), empty}); });
}

const std::vector<sent_datagram>& sends() { return net().sent; }
const std::vector<received>& receives() { return net().taken; }
int open_sockets() { return static_cast<int>(net().open.size()); }

std::vector<bytes> split(const std::uint8_t* data, std::size_t size) {
    std::vector<bytes> out;
    walk(data, size, [&](bytes d, bool empty) {
        if (!empty) out.push_back(std::move(d));
    });
    return out;
}

}  // namespace vorex_fuzz

namespace vorex_net {

using vorex_fuzz::net;

bool start() { return true; }
void stop() {}

handle open_udp() {
    handle h = net().next_handle++;
    net().open.insert(h);
    return h;
}

void close(handle h) { net().open.erase(h); }

handle duplicate(handle h) { return net().open.count(h) ? open_udp() : invalid_handle; }

bool set_receive_timeout(handle, int) { return true; }
bool set_broadcast(handle) { return true; }
bool set_reuse_address(handle) { return true; }
bool set_receive_buffer(handle, int) { return true; }
int receive_buffer_size(handle) { return -1; }
bool bind(handle, endpoint) { return true; }

bool local_endpoint(handle, endpoint* local) {
    *local = endpoint{vorex_fuzz::host_a, 40000};
    return true;
}

bool last_error_address_in_use() { return false; }

int send_to(handle h, const void* data, std::size_t length, endpoint to) {
    auto& n = net();
    const auto* p = static_cast<const std::uint8_t*>(data);
    n.sent.push_back({h, vorex_fuzz::bytes(p, p + length), to});
    const bool short_send = n.failing_send >= 0 && static_cast<int>(n.sent.size()) > n.failing_send;
    return static_cast<int>(length) - (short_send ? 1 : 0);
}

int receive(handle h, void* buffer, std::size_t capacity, endpoint* from) {
    auto& n = net();
    vorex_fuzz::received r{h, -1, {}};
    bool got = false;
    if (!n.input.empty()) {
        vorex_fuzz::queued q = std::move(n.input.front());
        n.input.pop_front();
        got = !q.empty;
        // As on the real platform: a longer datagram is consumed and fails.
        if (got && q.data.size() > capacity) {
            r.result = oversize_datagram;
        } else if (got) {
            if (!q.data.empty()) std::memcpy(buffer, q.data.data(), q.data.size());
            if (from) *from = endpoint{0x0900000A, 50030};  // 10.0.0.9
            r.result = static_cast<int>(q.data.size());
            r.data = std::move(q.data);
        }
    }
    n.now_ms += got ? vorex_fuzz::datagram_ms : library_receive_timeout_ms();
    n.taken.push_back(std::move(r));
    return n.taken.back().result;
}

int receive_any(const handle* sockets, std::size_t count, void* buffer, std::size_t capacity, endpoint* from) {
    return count == 0 ? -1 : receive(sockets[0], buffer, capacity, from);
}

handle open_broadcast_receiver(std::uint16_t) { return invalid_handle; }

std::FILE* open_file_for_reading(const char* path) { return std::fopen(path, "rb"); }

std::int64_t file_size(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(file);
    std::rewind(file);
    return size;
}

bool set_receive_timestamps(handle) { return true; }

// Stamped by the fake clock, so a target can tell every datagram's time.
int receive_stamped(handle h, void* buffer, std::size_t capacity, std::int64_t* received_ns) {
    const int n = receive(h, buffer, capacity, nullptr);
    if (n >= 0) *received_ns = net().now_ms * 1000000;
    return n;
}

std::int64_t monotonic_ms() { return net().now_ms; }

std::vector<std::uint32_t> up_ipv4_addresses() { return {vorex_fuzz::host_a, 0x0100007F, vorex_fuzz::host_b}; }

int library_receive_timeout_ms() { return 100; }

}  // namespace vorex_net

namespace vorex_test_seam {
void set_receive_timeout_ms(int) {}
void set_clock(std::int64_t (*)()) {}
}  // namespace vorex_test_seam
