// Fuzz target: discovery against arbitrary replies and strays on every
// adapter: sessions only from whole replies, one per hardware address, each
// reply asking for it acknowledged, the reply loop bounded under a flood.
//
// Input: byte 1 names the first send that fails (fuzz_session.h); the rest
// is the network (fake_socket.h), shared by the adapters in turn.
#include "core/exchange.h"
#include "fuzz_session.h"

namespace {

using namespace vorex_fuzz;
using vorex_wire::discovery_reply_size;
using vorex_wire::header_size;
namespace device = vorex_wire::device;

const std::uint8_t* mac_of(const std::uint8_t* record) { return record + device::at_mac_address; }

bool is_request(const sent_datagram& s) {
    const bytes request = {0x14, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x5E, 0, 0, 0};
    return s.data == request && s.to.address == 0xFFFFFFFF && s.to.port == vorex_wire::discovery_port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const options o = options_of(data, size);
    VOREX_FUZZ_REQUIRE(vorex::init());
    reset(o.network, o.size, o.failing_send);
    {
        bool done = false;
        const auto found = vorex::search(&done);
        VOREX_FUZZ_REQUIRE(done);

        // The replies in the order they were received.
        std::vector<const bytes*> replies;
        std::size_t asking = 0;
        std::size_t per_socket = 0;
        vorex_net::handle socket = vorex_net::invalid_handle;
        for (const received& r : receives()) {
            per_socket = r.socket == socket ? per_socket + 1 : 1;
            socket = r.socket;
            VOREX_FUZZ_REQUIRE(per_socket <= receives_within(vorex_core::discovery_bound_ms));
            if (r.result != static_cast<int>(discovery_reply_size)) continue;
            replies.push_back(&r.data);
            asking += vorex_wire::asks_ack(r.data.data());
        }
        // One session per hardware address, from its first reply.
        std::size_t next = 0;
        for (const auto& s : found) {
            const auto* record = reinterpret_cast<const std::uint8_t*>(&s->info());
            while (next < replies.size() &&
                   std::memcmp(mac_of(replies[next]->data() + header_size), mac_of(record), device::mac_size) != 0)
                ++next;
            VOREX_FUZZ_REQUIRE(next < replies.size());
            const bytes& reply = *replies[next];
            VOREX_FUZZ_REQUIRE(std::memcmp(reply.data() + header_size, record, device::record_size) == 0);
            const auto counter = static_cast<std::uint16_t>(vorex_wire::load_u16_le(reply.data() + 8) + 1);
            VOREX_FUZZ_REQUIRE(vorex_session_access::counter(*s) == counter);
            for (const auto& t : found)
                if (t != s)
                    VOREX_FUZZ_REQUIRE(std::memcmp(mac_of(reinterpret_cast<const std::uint8_t*>(&t->info())),
                                                   mac_of(record), device::mac_size) != 0);
        }
        // Requests and one acknowledgement per asking reply, nothing else.
        std::size_t acks = 0;
        for (const sent_datagram& s : sends()) {
            if (is_request(s)) continue;
            VOREX_FUZZ_REQUIRE(s.data.size() == header_size && s.data[0] == 0x24 &&
                               s.to.port == vorex_wire::discovery_port);
            ++acks;
        }
        VOREX_FUZZ_REQUIRE(acks == asking);
    }
    vorex::cleanup();
    VOREX_FUZZ_REQUIRE(open_sockets() == 0);
    return 0;
}
