// The service channel: the transport routines and the one request exchange
// every service operation goes through.
//
// REQUIRES for everything here: the caller holds service_lock and the
// library is running (send_buffer and receive_buffer exist).
#ifndef VOREX_CORE_EXCHANGE_H
#define VOREX_CORE_EXCHANGE_H

#include <cstdint>
#include <mutex>

#include "core/state.h"
#include "core/wire.h"
#include "net/socket.h"

class vorex;

namespace vorex_core {

// Each empty receive counts as this many milliseconds toward a wait limit,
// whatever the socket's timeout really is.
constexpr int receive_step_ms = 100;
// Every fifth empty receive resends the request.
constexpr int resend_every = 5;
// Datagrams of the wrong length cost a wait nothing, so a sender that never
// pauses would hold it (and service_lock) for as long as it sends. The
// monotonic clock cuts that off: a wait ends at the latest this long after
// it began, twice its limit and at least a second. A reply that arrives
// within the limit is taken however many other datagrams came first or
// stand queued before it; only a flood that outlasts the bound costs it.
constexpr int flood_bound_ms(int limit_ms) { return 2 * limit_ms > 1000 ? 2 * limit_ms : 1000; }

// Discovery goes on while datagrams keep coming; on one adapter it ends at
// the latest this long after the broadcast. Real sensors answer within a
// few milliseconds of it, however many share the segment.
constexpr int discovery_bound_ms = 3000;

// The moment by which a wait must end, on the monotonic clock.
class wait_deadline {
public:
    explicit wait_deadline(int bound_ms) : end_(vorex_net::monotonic_ms() + bound_ms) {}
    bool passed() const { return vorex_net::monotonic_ms() >= end_; }

private:
    std::int64_t end_;
};

// Copies the header, then the payload when one is given, into send_buffer
// (no-ops when they already lie there) and sends 14 + length bytes. True
// when the platform reports all of them sent.
bool send_packet(vorex_net::handle socket, const std::uint8_t* header, vorex_net::endpoint to,
                 int payload_length, const void* payload);

// Waits for a datagram of exactly 14 + payload_length bytes. Each empty
// receive adds receive_step_ms to the waited total; every resend_every-th
// resends the packet held in send_buffer when resend_to is given. Datagrams
// of any other length are passed over without counting. On success copies
// the header to header_out and the payload to payload_out (when given).
// Fails, as on silence, once flood_bound_ms(limit_ms) has passed.
bool receive_reply(vorex_net::handle socket, std::uint8_t* header_out, int limit_ms, int payload_length,
                   void* payload_out, const vorex_net::endpoint* resend_to);

// Turns the 14 header bytes into their acknowledgement in place and sends
// them without payload. True when all 14 bytes went out; most callers
// ignore it, as a lost acknowledgement changes no result.
bool send_acknowledgement(vorex_net::handle socket, std::uint8_t* header, vorex_net::endpoint to);

// When a session's message counter advances during an exchange.
enum class count_rule { on_send, on_reply, never };
// How the reply is acknowledged.
enum class ack_rule { never, when_asked, always_from_request };

// The facts that make one service command.
struct command {
    std::uint8_t command_class;
    std::uint8_t command_code;
    std::uint8_t flags;
    int reply_length;  // total datagram length accepted, header included
    int wait_ms;       // receive_reply limit; 0 means one receive, no resend
    count_rule counting;
    ack_rule acknowledging;
};

// What a session lends the exchange: its socket, its sensor's service
// address and serial, and its counter.
struct service_link {
    vorex_net::handle socket;
    vorex_net::endpoint sensor;
    std::uint32_t serial;
    std::uint16_t* counter;
};

service_link link_of(vorex& session);

// Builds the request in send_buffer (header, then `payload_length` bytes of
// `payload`), sends it, waits for the reply as `cmd` says, acknowledges and
// advances the counter by the command's rules. On success the reply lies
// in receive_buffer (header at 0). False when the request did not go out
// whole or no reply came.
bool exchange(const service_link& link, const command& cmd, const void* payload, int payload_length);

// Writes a request header into send_buffer with the session's serial and
// current counter.
void build_request(const service_link& link, const command& cmd, int payload_length);

// Opens a service operation the common way and holds service_lock until it
// goes out of scope: takes the lock, and, when the library is running,
// resets the error text. An operation proceeds only when ready().
class service_operation {
public:
    explicit service_operation(vorex& session)
        : guard_(service_lock()), ready_(running()), link_(link_of(session)) {
        if (ready_) set_error(error_code::no_error);
    }
    service_operation(const service_operation&) = delete;
    service_operation& operator=(const service_operation&) = delete;

    bool ready() const { return ready_; }
    const service_link& link() const { return link_; }

private:
    std::lock_guard<std::mutex> guard_;
    bool ready_;
    service_link link_;
};

}  // namespace vorex_core

#endif
