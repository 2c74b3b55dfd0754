// What the session fuzz targets share: the library's lifetime and one
// connected session on the fake network, and questions about what crossed
// it.
#ifndef VOREX_FUZZ_SESSION_H
#define VOREX_FUZZ_SESSION_H

#include <cstring>
#include <memory>

#include "core/session_access.h"
#include "core/state.h"
#include "core/wire.h"
#include "fake_socket.h"
#include "fuzz_check.h"
#include "vorex.h"

namespace vorex_fuzz {

constexpr std::uint32_t sensor_serial = 0x01020304;

inline vorex_device_info_t fuzz_record(std::int32_t image_packet_size) {
    namespace device = vorex_wire::device;
    vorex_device_info_t info;
    auto* r = reinterpret_cast<std::uint8_t*>(&info);
    std::memset(r, 0, sizeof info);
    vorex_wire::store_u32_le(r + device::at_serial, sensor_serial);
    const std::uint8_t ip[4] = {10, 0, 0, 9}, mask[4] = {255, 255, 255, 0};
    std::memcpy(r + device::at_ip_address, ip, 4);
    std::memcpy(r + device::at_subnet_mask, mask, 4);
    vorex_wire::store_u16_le(r + device::at_data_port, 50020);
    vorex_wire::store_u16_le(r + device::at_service_port, 50030);
    vorex_wire::store_u32_le(r + device::at_image_packet_size, static_cast<std::uint32_t>(image_packet_size));
    return info;
}

// init, a connected session, and on destruction: disconnect, cleanup and
// no socket left open.
class session_fixture {
public:
    session_fixture(const std::uint8_t* network, std::size_t size, int failing_send,
                    std::int32_t image_packet_size = 1400) {
        VOREX_FUZZ_REQUIRE(vorex::init());
        reset(network, size, failing_send);
        vorex_device_info_t info = fuzz_record(image_packet_size);
        session = std::make_unique<vorex>(&info, 0xFFFE);
        VOREX_FUZZ_REQUIRE(session->connect());
    }
    ~session_fixture() {
        session.reset();
        vorex::cleanup();
        VOREX_FUZZ_REQUIRE(open_sockets() == 0);
    }
    session_fixture(const session_fixture&) = delete;
    session_fixture& operator=(const session_fixture&) = delete;

    std::uint16_t counter() { return vorex_session_access::counter(*session); }

    std::unique_ptr<vorex> session;
};

// The first datagram received of exactly `length` bytes, or null.
inline const bytes* first_received_of(int length) {
    for (const received& r : receives())
        if (r.result == length) return &r.data;
    return nullptr;
}

inline int count_received_of(int length) {
    int n = 0;
    for (const received& r : receives()) n += r.result == length;
    return n;
}

// Fuzz options from the input's first bytes; what is left is the network.
struct options {
    std::uint8_t select = 0;
    int failing_send = -1;
    std::uint8_t value = 0;
    const std::uint8_t* network = nullptr;
    std::size_t size = 0;
};

// Byte 0 selects, byte 1 names the first send that fails (0xFF or more
// than 15: none), byte 2 is a free value.
inline options options_of(const std::uint8_t* data, std::size_t size) {
    options o;
    if (size < 3) return o;
    o.select = data[0];
    o.failing_send = data[1] < 16 ? data[1] : -1;
    o.value = data[2];
    o.network = data + 3;
    o.size = size - 3;
    return o;
}

}  // namespace vorex_fuzz

#endif
