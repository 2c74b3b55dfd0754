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

void collect_replies(vorex_net::handle socket, session_list& found) {
    std::uint8_t* in = vorex_core::receive_buffer();
    for (int receives = 0; receives < vorex_core::max_discovery_receives; ++receives) {
        vorex_net::endpoint sender;
        int n = vorex_net::receive(socket, in, vorex_wire::discovery_reply_size, &sender);
        if (n <= 0) return;
        if (n != static_cast<int>(vorex_wire::discovery_reply_size)) continue;
        const std::uint8_t* record = in + header_size;
        // Duplicates are acknowledged too: the acknowledgement comes first.
        if (vorex_wire::asks_ack(in)) acknowledge_reply(socket, in, sender.address);
        if (already_found(found, record)) continue;
        vorex_device_info_t info;
        std::memcpy(&info, record, sizeof info);
        auto next = static_cast<std::uint16_t>(vorex_wire::load_u16_le(in + vorex_wire::at_counter) + 1);
        found.push_back(std::make_shared<vorex>(&info, next));
    }
}

// Broadcasts from one host address and collects what answers there.
void search_adapter(const char* entry, session_list& found) {
    vorex_net::handle socket = vorex_net::open_udp();
    if (socket == vorex_net::invalid_handle) return;
    vorex_net::set_receive_timeout(socket, vorex_net::library_receive_timeout_ms());
    vorex_net::set_broadcast(socket);
    std::uint32_t local;
    // Only 127.0.0.1 itself is skipped; other loopback addresses take part.
    if (vorex_core::parse_dotted(entry, &local) && local != loopback_address &&
        vorex_net::bind(socket, {local, 0})) {
        build_discovery_request();
        int sent = vorex_net::send_to(socket, vorex_core::send_buffer(), header_size,
                                      {broadcast_address, vorex_wire::discovery_port});
        if (sent == static_cast<int>(header_size)) collect_replies(socket, found);
    }
    vorex_net::close(socket);
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
