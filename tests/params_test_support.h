// Helpers shared by the parameter tests: the group table as the tests
// expect it (written out, not taken from the library), block patterns and
// a scripted sensor that answers requests only.
#ifndef VOREX_PARAMS_TEST_SUPPORT_H
#define VOREX_PARAMS_TEST_SUPPORT_H

#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <ostream>

#include "support/test_support.h"

namespace vorex_test {

// One parameter group: where it lies, its command words and datagram
// size, and its two operations with the record type erased.
struct group_case {
    const char* name;
    int offset;
    int size;
    std::uint16_t read_word;
    std::uint16_t write_word;
    std::size_t datagram;  // read reply and write request, header included
    bool (*read)(vorex&, void*);
    bool (*write)(vorex&, void*);
};

inline std::ostream& operator<<(std::ostream& os, const group_case& g) { return os << g.name; }

#define VOREX_GROUP_CASE(name, offset, size, read_word, write_word, datagram)                              \
    group_case {                                                                                            \
        #name, offset, size, read_word, write_word, datagram,                                               \
            [](vorex& s, void* p) { return s.read_##name##_params(static_cast<vorex_##name##_params_t*>(p)); }, \
            [](vorex& s, void* p) { return s.write_##name##_params(static_cast<vorex_##name##_params_t*>(p)); } \
    }

inline const group_case all_groups[] = {
    VOREX_GROUP_CASE(general, 0, 192, 0x015E, 0x025E, 206),
    VOREX_GROUP_CASE(sysmon, 192, 82, 0x035E, 0x045E, 96),
    VOREX_GROUP_CASE(tavikcompat, 274, 35, 0x055E, 0x065E, 49),
    VOREX_GROUP_CASE(sensor, 309, 83, 0x075E, 0x085E, 97),
    VOREX_GROUP_CASE(roi, 392, 91, 0x095E, 0x0A5E, 105),
    VOREX_GROUP_CASE(network, 483, 93, 0x0B5E, 0x0C5E, 107),
    VOREX_GROUP_CASE(stream, 576, 35, 0x0D5E, 0x0E5E, 49),
    VOREX_GROUP_CASE(image_processing, 611, 71, 0x0F5E, 0x105E, 85),
    VOREX_GROUP_CASE(laser, 682, 36, 0x115E, 0x125E, 50),
    VOREX_GROUP_CASE(inputs, 718, 345, 0x135E, 0x145E, 359),
    VOREX_GROUP_CASE(outputs, 1063, 54, 0x155E, 0x165E, 68),
};

#undef VOREX_GROUP_CASE

inline std::string group_name(const ::testing::TestParamInfo<group_case>& info) { return info.param.name; }

constexpr std::size_t block_size = 1400;

inline bytes block_of(const vorex_user_params_t& p) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&p);
    return bytes(b, b + sizeof p);
}

inline void set_block(vorex_user_params_t& p, const bytes& b) { std::memcpy(&p, b.data(), sizeof p); }

// A run of bytes that differs from its neighbours and from other seeds.
inline bytes pattern(std::size_t n, std::uint8_t salt) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 13 + salt);
    return b;
}

// The complement of block[offset, offset + size): differs in every byte
// from what it replaces.
inline bytes inverted(const bytes& block, int offset, int size) {
    bytes b(block.begin() + offset, block.begin() + offset + size);
    for (auto& x : b) x = static_cast<std::uint8_t>(~x);
    return b;
}

inline bytes with_slice(bytes block, int offset, const bytes& slice) {
    std::copy(slice.begin(), slice.end(), block.begin() + offset);
    return block;
}

inline std::uint16_t counter_of(const bytes& d) { return vorex_wire::load_u16_le(&d[vorex_wire::at_counter]); }
inline bytes payload_of(const bytes& d) { return bytes(d.begin() + vorex_wire::header_size, d.end()); }
inline bool is_request(const bytes& d) { return d.size() >= vorex_wire::header_size && (d[0] >> 4) == 1; }

// The header a session with `serial` sends: flags 0x1C and the command word.
inline bytes request_header(std::uint32_t serial, std::uint16_t counter, std::uint16_t word,
                            std::uint16_t payload_length) {
    return header_bytes(0x1C, serial, counter, static_cast<std::uint8_t>(word & 0xFF),
                        static_cast<std::uint8_t>(word >> 8), payload_length);
}

// A reply of any total length (header included) to `request`.
inline bytes reply_sized(const bytes& request, std::uint8_t flags, std::size_t total, std::uint8_t fill) {
    return reply_for(request, flags, bytes(total - vorex_wire::header_size, fill));
}

// A reply whose header is not the request's: another serial, counter and
// reserved bytes, as a sensor with its own numbering would send.
inline bytes foreign_reply(const bytes& request, std::uint8_t flags, const bytes& payload) {
    bytes r = reply_for(request, flags, payload);
    vorex_wire::store_u32_le(&r[vorex_wire::at_serial], 0xA1B2C3D4);
    vorex_wire::store_u16_le(&r[vorex_wire::at_counter], 0x7777);
    r[1] = 0x01;
    r[2] = 0x02;
    r[3] = 0x03;
    return r;
}

// The acknowledgement of a foreign_reply with the given flags.
inline bytes foreign_ack(std::uint8_t flags, std::uint16_t word) {
    bytes a = header_bytes(flags, 0xA1B2C3D4, 0x7777, static_cast<std::uint8_t>(word & 0xFF),
                           static_cast<std::uint8_t>(word >> 8), 0);
    a[1] = 0x01;
    a[2] = 0x02;
    a[3] = 0x03;
    return a;
}

// A scripted sensor whose script sees requests only (acknowledgements are
// recorded on the wire but not answered), numbered from 0.
class params_test : public scripted_test {
protected:
    using answer_fn = std::function<std::vector<bytes>(const bytes& request, std::size_t nth)>;

    void answer(answer_fn f) {
        auto n = std::make_shared<std::size_t>(0);
        script([f, n](const bytes& d, std::size_t) -> std::vector<bytes> {
            if (!is_request(d)) return {};
            return f(d, (*n)++);
        });
    }

    // Every request gets a bare 14-byte reply with these flags.
    void answer_bare(std::uint8_t flags) {
        answer([flags](const bytes& req, std::size_t) -> std::vector<bytes> { return {reply_for(req, flags)}; });
    }

    bytes cache() { return block_of(session->params()); }
};

}  // namespace vorex_test

#endif
