// A simulated sensor with no transport: its device record, parameter block,
// profile generator, image, firmware store and log. The UDP front end
// (sensor_sim.h) feeds it datagrams and sends what it answers.
#ifndef VOREX_SIM_DEVICE_MODEL_H
#define VOREX_SIM_DEVICE_MODEL_H

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
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
    std::vector<std::uint8_t> base_record;   // a recorded 524-byte device record to report; empty: the simulator's own
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

    // Loses power and comes back: every transfer in progress, the firmware
    // store and the log are gone, the parameters are those last persisted.
    void power_cycle();

    // The parameter block as it stands.
    vorex_user_params_t parameters() const;

    // ---- Firmware store and log (device_maintenance.cpp) ----
    struct firmware_status {
        std::uint64_t received = 0;         // bytes taken in order since the last chunk at offset 0
        std::uint16_t checksum = 0;         // image checksum of those bytes
        std::uint32_t rejected_chunks = 0;  // chunks whose offset broke the sequence
        std::uint32_t commits = 0;
    };
    firmware_status firmware() const;
    // Makes checksum replies disagree with the image received.
    void set_checksum_fault(bool on);
    // Appends a record to the log, as the sensor's own events do.
    void log_event(std::uint16_t code, const std::string& text);
    std::uint32_t log_size() const;
    // ---- end firmware store and log ----

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
    bool persist_parameters() const;
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

    // ---- Firmware store and log (device_maintenance.cpp) ----
    struct maintenance_state;
    static std::shared_ptr<maintenance_state> power_on(const device_config& config);
    // The hook other families log their events through. REQUIRES: mutex_ held.
    void log_event_locked(std::uint16_t code, const std::string& text);
    std::shared_ptr<maintenance_state> maintenance_ = power_on(config_);  // opens the log
    // ---- end firmware store and log ----
};

// ---- Log records of the simulated sensor (device_maintenance.cpp) ----
// Event codes it writes.
namespace log_code {
constexpr std::uint16_t power_on = 1;
constexpr std::uint16_t parameters_saved = 2;
constexpr std::uint16_t reboot = 3;
constexpr std::uint16_t firmware_checked = 4;
constexpr std::uint16_t firmware_committed = 5;
constexpr std::uint16_t firmware_refused = 6;
constexpr std::uint16_t chunk_out_of_order = 7;
}  // namespace log_code

// One 136-byte record taken apart.
struct log_entry {
    std::uint32_t sequence = 0;   // counts every record written since power-on
    std::uint32_t uptime_ms = 0;  // since power-on
    std::uint16_t code = 0;
    std::string text;
};
log_entry decode_log_record(const vorex_log_record_t& record);
// ---- end log records ----

// The simulated sensor's image: 648 x 488 8-bit pixels, row by row from the
// top (see device_data.cpp for the pattern). Tests compare against it.
const bytes& synthetic_image();

}  // namespace vorex_sim

#endif
