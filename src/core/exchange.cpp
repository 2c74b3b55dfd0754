#include "core/exchange.h"

#include <cstring>

#include "core/session_access.h"
#include "core/state.h"

namespace vorex_core {

bool send_packet(vorex_net::handle socket, const std::uint8_t* header, vorex_net::endpoint to, int payload_length,
                 const void* payload) {
    std::uint8_t* out = send_buffer();
    std::memmove(out, header, vorex_wire::header_size);
    // Without a payload pointer the payload already lies behind the header.
    const int length = payload_length > 0 ? payload_length : 0;
    if (length > 0 && payload)
        std::memmove(out + vorex_wire::header_size, payload, static_cast<std::size_t>(length));
    int total = static_cast<int>(vorex_wire::header_size) + length;
    return vorex_net::send_to(socket, out, static_cast<std::size_t>(total), to) == total;
}

bool receive_reply(vorex_net::handle socket, std::uint8_t* header_out, int limit_ms, int payload_length,
                   void* payload_out, const vorex_net::endpoint* resend_to) {
    std::uint8_t* in = receive_buffer();
    const int wanted = static_cast<int>(vorex_wire::header_size) + payload_length;
    const wait_deadline deadline(flood_bound_ms(limit_ms));
    int waited = 0;
    int empty = 0;
    // The request being waited for: its payload length is in its header.
    const int resend_payload = vorex_wire::load_u16_le(send_buffer() + vorex_wire::at_payload_length);
    while (waited < limit_ms && !deadline.passed()) {
        int n = vorex_net::receive(socket, in, buffer_size);
        if (n == wanted) {
            std::memcpy(header_out, in, vorex_wire::header_size);
            if (payload_length > 0 && payload_out)
                std::memcpy(payload_out, in + vorex_wire::header_size, static_cast<std::size_t>(payload_length));
            return true;
        }
        if (n <= 0) {
            waited += receive_step_ms;
            ++empty;
            if (resend_to && empty % resend_every == 0)
                send_packet(socket, send_buffer(), *resend_to, resend_payload, nullptr);
        }
    }
    return false;
}

bool send_acknowledgement(vorex_net::handle socket, std::uint8_t* header, vorex_net::endpoint to) {
    vorex_wire::make_acknowledgement(header);
    return send_packet(socket, header, to, 0, nullptr);
}

service_link link_of(vorex& session) { return vorex_session_access::link(session); }

void build_request(const service_link& link, const command& cmd, int payload_length) {
    vorex_wire::header h;
    h.flags = cmd.flags;
    h.serial = link.serial;
    h.counter = *link.counter;
    h.command_class = cmd.command_class;
    h.command_code = cmd.command_code;
    h.payload_length = static_cast<std::uint16_t>(payload_length);
    vorex_wire::encode(h, send_buffer());
}

namespace {

// One receive of at most the reply's length, no resend.
bool receive_once(const service_link& link, int reply_length) {
    int n = vorex_net::receive(link.socket, receive_buffer(), static_cast<std::size_t>(reply_length));
    return n == reply_length;
}

void acknowledge(const service_link& link, ack_rule rule) {
    if (rule == ack_rule::always_from_request) {
        send_acknowledgement(link.socket, send_buffer(), link.sensor);
    } else if (rule == ack_rule::when_asked && vorex_wire::asks_ack(receive_buffer())) {
        std::uint8_t header[vorex_wire::header_size];
        std::memcpy(header, receive_buffer(), sizeof header);
        send_acknowledgement(link.socket, header, link.sensor);
    }
}

}  // namespace

bool exchange(const service_link& link, const command& cmd, const void* payload, int payload_length) {
    build_request(link, cmd, payload_length);
    if (!send_packet(link.socket, send_buffer(), link.sensor, payload_length, payload)) return false;
    if (cmd.counting == count_rule::on_send) ++*link.counter;

    bool replied;
    if (cmd.wait_ms == 0) {
        replied = receive_once(link, cmd.reply_length);
    } else {
        std::uint8_t header[vorex_wire::header_size];
        replied = receive_reply(link.socket, header, cmd.wait_ms,
                                cmd.reply_length - static_cast<int>(vorex_wire::header_size), nullptr, &link.sensor);
    }
    if (!replied) return false;

    acknowledge(link, cmd.acknowledging);
    if (cmd.counting == count_rule::on_reply) ++*link.counter;
    return true;
}

}  // namespace vorex_core
