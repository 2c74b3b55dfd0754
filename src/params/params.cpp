// The user parameter block: whole-block commands and the eleven groups,
// all through the session's cache and the one service exchange.
#include <cstring>

#include "core/exchange.h"
#include "core/session_access.h"
#include "core/state.h"
#include "params/groups.h"
#include "vorex.h"

namespace {

using vorex_core::ack_rule;
using vorex_core::command;
using vorex_core::count_rule;
using vorex_core::service_operation;
using vorex_wire::class_params;
using vorex_wire::flags_request;
using vorex_wire::header_size;

constexpr int block_size = static_cast<int>(sizeof(vorex_user_params_t));
constexpr int bare_reply = static_cast<int>(header_size);

// read_params takes one receive and always acknowledges, from its own request.
constexpr command read_block{class_params, 0x02, flags_request, bare_reply + block_size, 0, count_rule::on_send,
                             ack_rule::always_from_request};
constexpr command write_block{class_params, 0x03, flags_request, bare_reply, 3000, count_rule::on_send, ack_rule::never};
constexpr command flush_block{class_params, 0x10, flags_request, bare_reply, 3000, count_rule::on_send, ack_rule::never};
constexpr command reboot_sensor{class_params, 0x12, flags_request, bare_reply, 2000, count_rule::on_send,
                                ack_rule::never};

std::uint8_t* cache_bytes(vorex& session) {
    return reinterpret_cast<std::uint8_t*>(&vorex_session_access::cache(session));
}

bool bare_command(vorex& session, const command& cmd) {
    service_operation op(session);
    return op.ready() && vorex_core::exchange(op.link(), cmd, nullptr, 0);
}

}  // namespace

bool vorex::read_params(vorex_user_params_t* params) {
    service_operation op(*this);
    if (!op.ready() || !vorex_core::exchange(op.link(), read_block, nullptr, 0)) return false;
    std::memcpy(&user_params, vorex_core::receive_buffer() + header_size, sizeof user_params);
    if (params) std::memcpy(params, &user_params, sizeof user_params);
    return true;
}

bool vorex::write_params(vorex_user_params_t* params) {
    service_operation op(*this);
    if (!op.ready()) return false;
    // The cache takes the caller's values before sending, and keeps them
    // whatever the outcome. memmove: params may be the cache itself.
    if (params) std::memmove(&user_params, params, sizeof user_params);
    return vorex_core::exchange(op.link(), write_block, &user_params, block_size);
}

bool vorex::flush_params() { return bare_command(*this, flush_block); }
bool vorex::reboot() { return bare_command(*this, reboot_sensor); }

bool vorex::reset_params() {
    vorex_core::set_error(vorex_core::error_code::not_implemented);
    return false;
}

bool vorex::group_exchange(int group, bool write, void* record) {
    const vorex_params::group& g = vorex_params::groups[group];
    service_operation op(*this);
    if (!op.ready()) return false;
    std::uint8_t* slice = cache_bytes(*this) + g.offset;
    const command cmd{vorex_wire::class_discovery,
                      static_cast<std::uint8_t>(write ? g.write_code() : g.read_code()),
                      flags_request,
                      bare_reply + (write ? 0 : g.size),
                      3000,
                      count_rule::on_reply,
                      write ? ack_rule::never : ack_rule::when_asked};
    if (write) {
        if (record) std::memmove(slice, record, static_cast<std::size_t>(g.size));
        return vorex_core::exchange(op.link(), cmd, slice, g.size);
    }
    if (!vorex_core::exchange(op.link(), cmd, nullptr, 0)) return false;
    std::memcpy(slice, vorex_core::receive_buffer() + header_size, static_cast<std::size_t>(g.size));
    if (record) std::memcpy(record, slice, static_cast<std::size_t>(g.size));
    return true;
}

#define VOREX_GROUP_OPERATIONS(name, index)                                                            \
    bool vorex::read_##name##_params(vorex_##name##_params_t* params) {                                \
        return group_exchange(index, false, params);                                                   \
    }                                                                                                  \
    bool vorex::write_##name##_params(vorex_##name##_params_t* params) {                               \
        return group_exchange(index, true, params);                                                    \
    }

VOREX_GROUP_OPERATIONS(general, 0)
VOREX_GROUP_OPERATIONS(sysmon, 1)
VOREX_GROUP_OPERATIONS(tavikcompat, 2)
VOREX_GROUP_OPERATIONS(sensor, 3)
VOREX_GROUP_OPERATIONS(roi, 4)
VOREX_GROUP_OPERATIONS(network, 5)
VOREX_GROUP_OPERATIONS(stream, 6)
VOREX_GROUP_OPERATIONS(image_processing, 7)
VOREX_GROUP_OPERATIONS(laser, 8)
VOREX_GROUP_OPERATIONS(inputs, 9)
VOREX_GROUP_OPERATIONS(outputs, 10)

#undef VOREX_GROUP_OPERATIONS
