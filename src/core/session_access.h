// Internal access to a session's private fields, for the library's own
// subsystems and for tests. Not part of the installed interface.
#ifndef VOREX_CORE_SESSION_ACCESS_H
#define VOREX_CORE_SESSION_ACCESS_H

#include <cstdint>

#include "core/exchange.h"
#include "core/wire.h"
#include "vorex.h"

struct vorex_session_access {
    static std::uint16_t& counter(vorex& s) { return s.message_counter; }
    static std::uintptr_t service_socket(const vorex& s) { return s.service_socket; }
    static std::uintptr_t data_socket(const vorex& s) { return s.data_socket; }
    static vorex_user_params_t& cache(vorex& s) { return s.user_params; }

    static const std::uint8_t* record(const vorex& s) {
        return reinterpret_cast<const std::uint8_t*>(&s.device_info);
    }

    static vorex_net::endpoint service_address(const vorex& s) {
        const std::uint8_t* r = record(s);
        vorex_net::endpoint e;
        std::memcpy(&e.address, r + vorex_wire::device::at_ip_address, 4);  // as stored
        e.port = vorex_wire::load_u16_le(r + vorex_wire::device::at_service_port);
        return e;
    }

    static vorex_core::service_link link(vorex& s) {
        return vorex_core::service_link{s.service_socket, service_address(s),
                                        vorex_wire::load_u32_le(record(s) + vorex_wire::device::at_serial),
                                        &s.message_counter};
    }
};

#endif
