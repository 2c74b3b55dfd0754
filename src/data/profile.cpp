// Profile reception on the data channel.
#include <mutex>

#include "core/state.h"
#include "data/profile_decode.h"
#include "net/socket.h"
#include "vorex.h"

namespace {

// Takes at most one datagram: a refused one is consumed all the same, and
// one longer than the largest profile fails the receive (it is never read
// shortened). Runs beside every service operation: it takes data_lock only.
// `received_ns`, when given, gets the datagram's arrival.
bool take_profile(vorex_net::handle data_socket, vorex_profile& profile, std::int64_t* received_ns) {
    std::lock_guard<std::mutex> guard(vorex_core::data_lock());
    if (!vorex_core::running()) return false;
    vorex_core::set_error(vorex_core::error_code::no_error);
    if (data_socket == vorex_net::invalid_handle) return false;

    std::uint8_t* in = vorex_core::data_buffer();
    const std::size_t capacity = vorex_data::max_profile_datagram;
    const int n = received_ns ? vorex_net::receive_stamped(data_socket, in, capacity, received_ns)
                              : vorex_net::receive(data_socket, in, capacity);
    if (n < 0) return false;
    switch (vorex_data::decode_profile(in, static_cast<std::size_t>(n), profile)) {
    case vorex_data::decode_outcome::accepted:
        return true;
    case vorex_data::decode_outcome::malformed:
        vorex_core::set_error(vorex_core::error_code::malformed_packet);
        return false;
    case vorex_data::decode_outcome::too_short:
        break;
    }
    return false;
}

}  // namespace

bool vorex::get_result(vorex_profile& profile) { return take_profile(data_socket, profile, nullptr); }

bool vorex::get_result(vorex_profile& profile, vorex_receive_time& received) {
    std::int64_t at = 0;
    const bool accepted = take_profile(data_socket, profile, &at);
    if (at != 0) received = vorex_receive_time(std::chrono::nanoseconds(at));
    return accepted;
}
