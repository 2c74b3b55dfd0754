// The device log: one request and one receive per call, no resend, no
// acknowledgement. Records are moved as opaque 136-byte runs.
#include <cstring>

#include "core/exchange.h"
#include "core/state.h"
#include "core/wire.h"
#include "vorex.h"

namespace {

using vorex_core::ack_rule;
using vorex_core::command;
using vorex_core::count_rule;
using vorex_core::service_operation;
using vorex_wire::class_discovery;
using vorex_wire::flags_request;
using vorex_wire::header_size;

constexpr int record_size = static_cast<int>(sizeof(vorex_log_record_t));
// Both replies open with the header and a 32-bit value.
constexpr int reply_head = static_cast<int>(header_size) + 4;
// The most records whose reply still fits receive_buffer.
constexpr int max_records = (static_cast<int>(vorex_core::buffer_size) - reply_head) / record_size;
static_assert(max_records == 240, "a log read carries at most 240 records");

constexpr command log_read(int count) {
    return {class_discovery, 0x17, flags_request, reply_head + record_size * count, 0, count_rule::on_send,
            ack_rule::never};
}
constexpr command log_record_count{class_discovery, 0x18, flags_request, reply_head, 0, count_rule::on_send,
                                   ack_rule::never};

}  // namespace

bool vorex::read_log(unsigned int index, vorex_log_record_t* records, int count) {
    // A caller's mistake is refused before anything happens, the error text
    // included. More than max_records could never arrive in one datagram.
    if (!records || count < 1 || count > max_records) return false;
    service_operation op(*this);
    if (!op.ready()) return false;
    std::uint8_t payload[4];
    vorex_wire::store_u32_le(payload, static_cast<std::uint32_t>(index));
    if (!vorex_core::exchange(op.link(), log_read(count), payload, sizeof payload)) return false;
    std::memcpy(records, vorex_core::receive_buffer() + reply_head, static_cast<std::size_t>(record_size * count));
    return true;
}

bool vorex::read_log_record_count(unsigned int& count) {
    service_operation op(*this);
    if (!op.ready() || !vorex_core::exchange(op.link(), log_record_count, nullptr, 0)) return false;
    count = vorex_wire::load_u32_le(vorex_core::receive_buffer() + header_size);
    return true;
}

unsigned int vorex::read_log_record_count() {
    unsigned int count = 0;
    return read_log_record_count(count) ? count : 0;
}
