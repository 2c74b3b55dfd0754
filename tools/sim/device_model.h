// A simulated sensor with no transport: its device record, parameter block,
// profile generator, image, firmware store and log. The UDP front end
// (sensor_sim.h) feeds it datagrams and sends what it answers.
#ifndef VOREX_SIM_DEVICE_MODEL_H
#define VOREX_SIM_DEVICE_MODEL_H

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/wire.h"
#include "vorex.h"

namespace vorex_sim {

using bytes = std::vector<std::uint8_t>;

struct device_config {
    std::uint32_t serial = 1001;
    std::uint32_t ip_address = 0x0100007F;   // network byte order (127.0.0.1)
    std::uint32_t subnet_mask = 0x000000FF;  // network byte order (255.0.0.0)
    std::uint16_t data_port = 0;             // host port profiles go to
    std::uint16_t service_port = 0;          // 0: any free port
    std::array<std::uint8_t, 6> mac{{0x02, 0x56, 0x58, 0x00, 0x00, 0x01}};
    std::int32_t image_packet_size = 1400;
    std::string state_dir;                   // where flushed parameters persist; empty: nowhere
    std::chrono::milliseconds commit_delay{300};
};

// A datagram the model wants sent back to the host that spoke to it.
struct reply {
    bytes data;
    std::chrono::milliseconds delay{0};
};

class device_model {
public:
    explicit device_model(const device_config& config);

    const device_config& config() const { return config_; }
    vorex_device_info_t record() const;
    // The model learns its service port once the front end has bound it.
    void set_service_port(std::uint16_t port);

    // The 538-byte discovery reply (asks for acknowledgement).
    bytes discovery_reply();
    // Answers one service datagram from the host.
    std::vector<reply> handle_service(const bytes& datagram);

    // The parameter block as it stands.
    vorex_user_params_t parameters() const;

private:
    // Each family lives in its own source file.
    std::vector<reply> handle_params(const vorex_wire::header& h, const bytes& datagram);
    std::vector<reply> handle_image(const vorex_wire::header& h, const bytes& datagram);
    std::vector<reply> handle_firmware(const vorex_wire::header& h, const bytes& datagram);
    std::vector<reply> handle_log(const vorex_wire::header& h, const bytes& datagram);
    std::vector<reply> handle_acknowledgement(const vorex_wire::header& h, const bytes& datagram);

    // A reply header echoing the request's serial, counter and command.
    bytes reply_to(const vorex_wire::header& request, std::uint8_t flags, const bytes& payload) const;
    void load_parameters();
    void persist_parameters() const;
    std::string state_file() const;

    device_config config_;
    mutable std::mutex mutex_;
    std::uint16_t counter_ = 40;
    vorex_user_params_t params_{};

    // --- Image transfer (device_data.cpp) ---------------------------------
    // Stop-and-wait: at most one datagram asking for acknowledgement is in
    // flight; its acknowledgement releases the next chunk.
    std::vector<reply> next_image_datagrams();
    struct image_transfer {
        bool active = false;
        vorex_wire::header request;      // serial and command the datagrams echo
        std::size_t next_offset = 0;     // first image byte not yet sent
        std::uint16_t awaited_counter = 0;  // counter of the datagram in flight
    } image_transfer_;
    // --- end of image transfer --------------------------------------------
};

// The simulated sensor's image: 648 x 488 8-bit pixels, row by row from the
// top (see device_data.cpp for the pattern). Tests compare against it.
const bytes& synthetic_image();

}  // namespace vorex_sim

#endif
