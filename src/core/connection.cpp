// Connection of a session's two sockets and the choice of local address.
#include <cstring>

#include "core/connection.h"
#include "core/session_access.h"
#include "core/state.h"
#include "net/socket.h"
#include "vorex.h"

namespace vorex_core {

std::uint32_t select_local_address(std::uint32_t peer, std::uint32_t mask) {
    if (peer == 0) return 0;
    for (int i = 0; i < adapter_count(); ++i) {
        std::uint32_t local;
        if (!parse_dotted(adapter_entry(i), &local)) continue;
        if ((local & mask) == (peer & mask)) return local;
    }
    return 0;
}

}  // namespace vorex_core

namespace {

// Room for about 800 type 19 profiles, 40 ms at 20,000/s: the default
// buffer holds some 25, so a receiving thread that stalls for a
// millisecond or two would lose profiles. Not examined: the platform may
// grant less, and reception works with whatever it grants.
constexpr int data_receive_buffer_bytes = 4 * 1024 * 1024;

vorex_net::handle open_with_timeout() {
    vorex_net::handle h = vorex_net::open_udp();
    if (h != vorex_net::invalid_handle) vorex_net::set_receive_timeout(h, vorex_net::library_receive_timeout_ms());
    return h;
}

std::uint32_t local_address_for(const std::uint8_t* record) {
    std::uint32_t peer, mask;
    std::memcpy(&peer, record + vorex_wire::device::at_ip_address, 4);
    std::memcpy(&mask, record + vorex_wire::device::at_subnet_mask, 4);
    return vorex_core::select_local_address(peer, mask);
}

}  // namespace

bool vorex::connect() {
    using vorex_core::error_code;
    vorex_core::set_error(error_code::no_error);
    // A second connect would otherwise orphan the sockets already open.
    close_sockets();
    const std::uint8_t* record = vorex_session_access::record(*this);

    service_socket = open_with_timeout();
    if (service_socket == vorex_net::invalid_handle) {
        vorex_core::set_error(error_code::create_service_socket);
        return false;
    }
    if (!vorex_net::bind(service_socket, {local_address_for(record), 0})) {
        vorex_net::close(service_socket);
        service_socket = vorex_net::invalid_handle;
        vorex_core::set_error(error_code::bind_service_socket);
        return false;
    }

    data_socket = open_with_timeout();
    if (data_socket == vorex_net::invalid_handle) {
        vorex_core::set_error(error_code::create_data_socket);
        return false;
    }
    vorex_net::set_receive_buffer(data_socket, data_receive_buffer_bytes);
    vorex_net::set_receive_timestamps(data_socket);
    const vorex_net::endpoint data_local{local_address_for(record),
                                         vorex_wire::load_u16_le(record + vorex_wire::device::at_data_port)};
    if (vorex_net::bind(data_socket, data_local)) return true;
    // Another socket of this host may hold the port and permit sharing.
    if (vorex_net::last_error_address_in_use()) vorex_net::set_reuse_address(data_socket);
    if (vorex_net::bind(data_socket, data_local)) return true;
    vorex_net::close(data_socket);
    data_socket = vorex_net::invalid_handle;
    vorex_core::set_error(error_code::bind_data_socket);
    return false;
}

void vorex::disconnect() {
    vorex_core::set_error(vorex_core::error_code::no_error);
    close_sockets();
}
