// Discovery: one broadcast per host address, one session per sensor.
#include <cstring>
#include <mutex>

#include "core/exchange.h"
#include "core/state.h"
#include "core/wire.h"
#include "net/socket.h"
#include "vorex.h"

namespace {

using vorex_wire::header_size;
namespace device = vorex_wire::device;

constexpr std::uint32_t loopback_address = 0x0100007F;  // 127.0.0.1 as stored
constexpr std::uint32_t broadcast_address = 0xFFFFFFFF;
constexpr std::uint32_t all_sensors = 0xFFFFFFFF;

using session_list = std::vector<std::shared_ptr<vorex>>;

void build_discovery_request() {
    vorex_wire::header h;
    h.flags = vorex_wire::flags_discovery;
    h.serial = all_sensors;
    h.command_class = vorex_wire::class_discovery;
    h.command_code = 0;
    vorex_wire::encode(h, vorex_core::send_buffer());
}

// The acknowledgement names the sensor by the record's serial and repeats
// the reply's counter; it always goes to the discovery port.
void acknowledge_reply(vorex_net::handle socket, const std::uint8_t* reply, std::uint32_t sender) {
    vorex_wire::header h;
    h.flags = vorex_wire::ack_flags(0);
    h.serial = vorex_wire::load_u32_le(reply + header_size + device::at_serial);
    h.counter = vorex_wire::load_u16_le(reply + vorex_wire::at_counter);
    h.command_class = vorex_wire::class_discovery;
    h.command_code = 0;
    std::uint8_t* out = vorex_core::send_buffer();
    vorex_wire::encode(h, out);
    vorex_net::send_to(socket, out, header_size, {sender, vorex_wire::discovery_port});
}

bool already_found(const session_list& found, const std::uint8_t* record) {
    for (const auto& s : found) {
        const auto* known = reinterpret_cast<const std::uint8_t*>(&s->info());
        if (std::memcmp(known + device::at_mac_address, record + device::at_mac_address, device::mac_size) == 0)
            return true;
    }
    return false;
}

// One datagram from whichever socket has one first.
int receive_datagram(const vorex_net::handle* sockets, std::size_t count, vorex_net::endpoint* sender) {
    std::uint8_t* in = vorex_core::receive_buffer();
    if (count == 1) return vorex_net::receive(sockets[0], in, vorex_wire::discovery_reply_size, sender);
    return vorex_net::receive_any(sockets, count, in, vorex_wire::discovery_reply_size, sender);
}

// Takes replies until a receive comes back empty. Acknowledgements go out
// of the first socket, the one the broadcast left from.
void collect_replies(const vorex_net::handle* sockets, std::size_t count, session_list& found) {
    const std::uint8_t* in = vorex_core::receive_buffer();
    const vorex_core::wait_deadline deadline(vorex_core::discovery_bound_ms);
    while (!deadline.passed()) {
        vorex_net::endpoint sender;
        const int n = receive_datagram(sockets, count, &sender);
        // Too long for a reply: passed over like any other wrong length,
        // rather than ending the search on this adapter.
        if (n == vorex_net::oversize_datagram) continue;
        if (n <= 0) return;
        if (n != static_cast<int>(vorex_wire::discovery_reply_size)) continue;
        const std::uint8_t* record = in + header_size;
        // Duplicates are acknowledged too: the acknowledgement comes first.
        if (vorex_wire::asks_ack(in)) acknowledge_reply(sockets[0], in, sender.address);
        if (already_found(found, record)) continue;
        vorex_device_info_t info;
        std::memcpy(&info, record, sizeof info);
        auto next = static_cast<std::uint16_t>(vorex_wire::load_u16_le(in + vorex_wire::at_counter) + 1);
        found.push_back(std::make_shared<vorex>(&info, next));
    }
}

// A sensor whose address lies outside the adapter's subnet can only answer
// by broadcast, to the port the request came from. Where the socket bound
// to the adapter's address does not receive that, a second one does; it
// exists before the request goes out, so no early answer is missed.
vorex_net::handle open_broadcast_receiver_for(vorex_net::handle socket) {
    vorex_net::endpoint bound;
    if (!vorex_net::local_endpoint(socket, &bound)) return vorex_net::invalid_handle;
    return vorex_net::open_broadcast_receiver(bound.port);
}

// Broadcasts from one host address and collects what answers there.
void search_adapter(const char* entry, session_list& found) {
    const vorex_net::owned_socket socket(vorex_net::open_udp());
    if (!socket.valid()) return;
    vorex_net::set_receive_timeout(socket.get(), vorex_net::library_receive_timeout_ms());
    vorex_net::set_broadcast(socket.get());
    std::uint32_t local;
    // Only 127.0.0.1 itself is skipped; other loopback addresses take part.
    if (!vorex_core::parse_dotted(entry, &local) || local == loopback_address ||
        !vorex_net::bind(socket.get(), {local, 0}))
        return;
    const vorex_net::owned_socket broadcast(open_broadcast_receiver_for(socket.get()));
    build_discovery_request();
    const int sent = vorex_net::send_to(socket.get(), vorex_core::send_buffer(), header_size,
                                        {broadcast_address, vorex_wire::discovery_port});
    if (sent != static_cast<int>(header_size)) return;
    const vorex_net::handle sockets[2] = {socket.get(), broadcast.get()};
    collect_replies(sockets, broadcast.valid() ? 2 : 1, found);
}

}  // namespace

std::vector<std::shared_ptr<vorex>> vorex::search(bool* done) {
    session_list found;
    {
        std::lock_guard<std::mutex> guard(vorex_core::service_lock());
        if (vorex_core::running()) {
            for (int i = 0; i < vorex_core::adapter_count(); ++i) search_adapter(vorex_core::adapter_entry(i), found);
        }
    }
    if (done) *done = true;
    return found;
}
