// Fuzz target: every service exchange of a session (parameter block, the
// 22 groups, log, firmware upload and commit) against arbitrary replies:
// every length, any flags, floods of wrong lengths, failing sends.
//
// Input: byte 0 picks the operation, byte 1 the first send that fails,
// byte 2 a free value (log index and count, firmware file size); the rest
// is the network (fake_socket.h).
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

#include "core/exchange.h"
#include "fuzz_session.h"
#include "params/groups.h"

namespace {

using namespace vorex_fuzz;
using vorex_core::flood_bound_ms;
using vorex_wire::header_size;

constexpr int bare = static_cast<int>(header_size);

enum class counting { on_send, on_reply, never, per_packet };

struct operation {
    int reply_length;   // of the reply whose arrival makes success
    int receive_bound;  // most receives, per request, on the fake clock
    counting count;
    bool acknowledges_when_asked;
    std::function<bool(vorex&, std::uint8_t* record, std::uint8_t value)> run;
    int record_offset;  // where in the reply the caller's record comes from (-1: none)
    int record_size;
};

#define VOREX_GROUP_OPS(name)                                                                           \
    [](vorex& s, std::uint8_t* r, std::uint8_t) { return s.read_##name##_params(reinterpret_cast<vorex_##name##_params_t*>(r)); }, \
    [](vorex& s, std::uint8_t* r, std::uint8_t) { return s.write_##name##_params(reinterpret_cast<vorex_##name##_params_t*>(r)); }

using runner = std::function<bool(vorex&, std::uint8_t*, std::uint8_t)>;
const runner group_runners[] = {
    VOREX_GROUP_OPS(general), VOREX_GROUP_OPS(sysmon), VOREX_GROUP_OPS(tavikcompat), VOREX_GROUP_OPS(sensor),
    VOREX_GROUP_OPS(roi), VOREX_GROUP_OPS(network), VOREX_GROUP_OPS(stream), VOREX_GROUP_OPS(image_processing),
    VOREX_GROUP_OPS(laser), VOREX_GROUP_OPS(inputs), VOREX_GROUP_OPS(outputs),
};
static_assert(sizeof group_runners / sizeof group_runners[0] == 22, "a read and a write per group");

// A firmware file of `value` * 97 bytes (0 to about 24 KiB, up to 20 chunks).
const std::string& firmware_file(std::uint8_t value) {
    static std::string path;
    static int written = -1;
    if (path.empty()) path = "/tmp/vorex-fuzz-firmware-" + std::to_string(::getpid());
    if (written != value) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (int i = 0; i < value * 97; ++i) out.put(static_cast<char>(i * 31 + 7));
        written = value;
    }
    return path;
}

std::vector<operation> operations() {
    std::vector<operation> ops;
    ops.push_back({bare + 1400, 1, counting::on_send, false,
                   [](vorex& s, std::uint8_t* r, std::uint8_t) { return s.read_params(reinterpret_cast<vorex_user_params_t*>(r)); },
                   bare, 1400});
    ops.push_back({bare, static_cast<int>(receives_within(flood_bound_ms(3000))), counting::on_send, false,
                   [](vorex& s, std::uint8_t* r, std::uint8_t) { return s.write_params(reinterpret_cast<vorex_user_params_t*>(r)); }, -1, 0});
    ops.push_back({bare, static_cast<int>(receives_within(flood_bound_ms(3000))), counting::on_send, false,
                   [](vorex& s, std::uint8_t*, std::uint8_t) { return s.flush_params(); }, -1, 0});
    ops.push_back({bare, static_cast<int>(receives_within(flood_bound_ms(2000))), counting::on_send, false,
                   [](vorex& s, std::uint8_t*, std::uint8_t) { return s.reboot(); }, -1, 0});
    for (const vorex_params::group& g : vorex_params::groups) {
        ops.push_back({bare + g.size, static_cast<int>(receives_within(flood_bound_ms(3000))), counting::on_reply, true, group_runners[2 * g.index], bare, g.size});
        ops.push_back({bare, static_cast<int>(receives_within(flood_bound_ms(3000))), counting::on_reply, false, group_runners[2 * g.index + 1], -1, 0});
    }
    for (int k = 0; k < 8; ++k) {
        const int count = k;
        ops.push_back({bare + 4 + 136 * count, 1, counting::on_send, false,
                       [count](vorex& s, std::uint8_t* r, std::uint8_t v) {
                           return s.read_log(v, reinterpret_cast<vorex_log_record_t*>(r), count);
                       },
                       bare + 4, 136 * count});
    }
    ops.push_back({bare + 4, 1, counting::on_send, false,
                   [](vorex& s, std::uint8_t*, std::uint8_t) { return s.read_log_record_count() != 0; }, -1, 0});
    ops.push_back({bare + 2, static_cast<int>(receives_within(flood_bound_ms(10000))), counting::per_packet, true,
                   [](vorex& s, std::uint8_t*, std::uint8_t v) { return s.write_firmware_image(firmware_file(v).c_str()); },
                   -1, 0});
    ops.push_back({bare + 4, static_cast<int>(receives_within(flood_bound_ms(2000)) + receives_within(flood_bound_ms(100000))), counting::never, false,
                   [](vorex& s, std::uint8_t*, std::uint8_t) { return s.flush_firmware_image(); }, -1, 0});
    return ops;
}

bool is_table_message(const char* text) {
    static const char* const allowed[] = {"No error", "Socket operation timeout", "CRC does not match"};
    for (const char* a : allowed)
        if (std::strcmp(a, text) == 0) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<operation> ops = operations();
    const options o = options_of(data, size);
    const operation& op = ops[o.select % ops.size()];
    session_fixture f(o.network, o.size, o.failing_send);

    std::vector<std::uint8_t> record(vorex_core::buffer_size, 0x5C);
    const std::uint16_t before = f.counter();
    const bool ok = op.run(*f.session, record.data(), o.value);
    const auto delta = static_cast<std::uint16_t>(f.counter() - before);
    const std::size_t requests = sends().size();

    // A success never without a reply of the exact length, and the caller's
    // record is that reply's payload.
    if (ok) {
        const bytes* reply = first_received_of(op.reply_length);
        VOREX_FUZZ_REQUIRE(reply != nullptr);
        if (op.record_offset >= 0)
            VOREX_FUZZ_REQUIRE(std::memcmp(record.data(), reply->data() + op.record_offset,
                                           static_cast<std::size_t>(op.record_size)) == 0);
    }
    // Every wait ends within its bound on time.
    const std::size_t packets = op.count == counting::per_packet ? requests : 1;
    VOREX_FUZZ_REQUIRE(receives().size() <= packets * static_cast<std::size_t>(op.receive_bound));
    // The counter rules.
    const bool first_sent = o.failing_send != 0 && requests > 0;
    switch (op.count) {
    case counting::on_send:
        if (requests > 0) VOREX_FUZZ_REQUIRE(delta == (first_sent ? 1 : 0));
        break;
    case counting::on_reply:
        VOREX_FUZZ_REQUIRE(delta == (ok ? 1 : 0));
        break;
    case counting::never:
        VOREX_FUZZ_REQUIRE(delta == 0);
        break;
    case counting::per_packet:
        VOREX_FUZZ_REQUIRE(static_cast<std::size_t>(delta) <= requests);
        break;
    }
    if (!first_sent) VOREX_FUZZ_REQUIRE(!ok);
    // Every datagram the library sends is a header, and every one but the
    // requests themselves an acknowledgement of 14 bytes.
    for (const sent_datagram& s : sends()) {
        VOREX_FUZZ_REQUIRE(s.data.size() >= header_size);
        VOREX_FUZZ_REQUIRE(vorex_wire::load_u16_le(s.data.data() + vorex_wire::at_payload_length) ==
                           s.data.size() - header_size);
    }
    if (ok && op.acknowledges_when_asked && op.count == counting::on_reply) {
        // A group read acknowledges its reply exactly when the reply asks.
        const bytes& reply = *first_received_of(op.reply_length);
        const bytes& last = sends().back().data;
        const bool acknowledged = last.size() == header_size && last[0] == vorex_wire::ack_flags(reply[0]);
        VOREX_FUZZ_REQUIRE(acknowledged == vorex_wire::asks_ack(reply.data()));
    }
    VOREX_FUZZ_REQUIRE(is_table_message(f.session->error_msg()));
    return 0;
}
