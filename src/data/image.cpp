// Image reception on the service channel.

#include "core/exchange.h"
#include "core/session_access.h"
#include "data/image_assembly.h"
#include "vorex.h"

namespace {

using vorex_core::service_link;

constexpr vorex_core::command image_request{vorex_wire::class_image,
                                            0x10,
                                            vorex_wire::flags_image_request,
                                            0,  // the answer is a stream of datagrams, not one reply
                                            0,
                                            vorex_core::count_rule::on_send,
                                            vorex_core::ack_rule::when_asked};
constexpr std::uint8_t request_payload[1] = {0};

bool send_request(const service_link& link) {
    vorex_core::build_request(link, image_request, sizeof request_payload);
    if (!vorex_core::send_packet(link.socket, vorex_core::send_buffer(), link.sensor, sizeof request_payload,
                                 request_payload))
        return false;
    ++*link.counter;
    return true;
}

std::int32_t image_packet_size(const vorex& session) {
    const std::uint8_t* record = vorex_session_access::record(session);
    return static_cast<std::int32_t>(vorex_wire::load_u32_le(record + vorex_wire::device::at_image_packet_size));
}

}  // namespace

// True only for a complete image whose final acknowledgement went out
// whole. An image that never started or stopped short (silence, a datagram
// shorter than a header, or one larger than the receive size, which fails
// the receive rather than arriving cut short) is false, with the chunks
// that came in the buffer and "No error" as the text. A transfer still
// incomplete image_bound_ms after the request is a flood, not a sensor: it
// ends with false too.
bool vorex::get_image(unsigned char* image) {
    // The first chunk would be written through it: refused before anything
    // is sent, like read_log's null array.
    if (!image) return false;
    vorex_core::service_operation op(*this);
    if (!op.ready()) return false;
    const service_link& link = op.link();
    if (!send_request(link)) return false;

    const std::size_t receive_size = vorex_data::image_receive_size(image_packet_size(*this));
    const vorex_core::wait_deadline deadline(vorex_data::image_bound_ms);
    std::uint8_t* in = vorex_core::receive_buffer();
    vorex_data::image_assembly assembly(image);
    while (!deadline.passed()) {
        const int n = vorex_net::receive(link.socket, in, receive_size);
        switch (assembly.take(in, n)) {
        case vorex_data::image_step::stop:
            return false;
        case vorex_data::image_step::pass_over:
        case vorex_data::image_step::chunk:
            break;
        case vorex_data::image_step::answer:
        case vorex_data::image_step::chunk_acked:
            vorex_core::send_acknowledgement(link.socket, in, link.sensor);
            break;
        case vorex_data::image_step::complete:
            // The only acknowledgement whose sending decides the result.
            return vorex_core::send_acknowledgement(link.socket, in, link.sensor);
        }
    }
    return false;
}
