// The simulated sensor's firmware store and log.
//
// Firmware: chunks must arrive at contiguous offsets; a chunk at offset 0
// starts a new image, and a repeat of the latest chunk (the host resends
// when our answer got lost) is answered again without being taken twice.
// A chunk at any other offset is answered but dropped, and marks the image
// broken: the sensor then leaves the checksum request unanswered and
// refuses to commit. Only the running checksum is kept, not the bytes, so
// uploads of any size cost the simulator no memory.
//
// Commit: answered at once with a bare header; config().commit_delay later
// comes the 18-byte completion, whose four bytes are a status (u16 LE,
// 0 committed, 1 refused: no intact image) and the committed checksum
// (u16 LE). A resent commit request while a commit runs is answered again
// but starts nothing.
//
// Log: records of 136 bytes, oldest first, at most max_log_records (the
// oldest are dropped beyond that):
//   0..3    sequence number, u32 LE, counting every record since power-on
//   4..7    milliseconds since power-on, u32 LE
//   8..9    event code, u16 LE (log_code)
//   10..135 text, NUL-padded, at most 125 characters
// A log read for `index` returns every record from `index` on, but at most
// 240 (what one datagram carries), and the log's size in bytes 14..17; so a
// caller reads min(240, size - index) records. An index past the end gets
// a reply with no record.
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <deque>

#include "maintenance/checksum.h"
#include "sim/device_model.h"

namespace vorex_sim {

using namespace vorex_wire;
using clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t record_size = sizeof(vorex_log_record_t);
constexpr std::size_t at_sequence = 0;
constexpr std::size_t at_uptime = 4;
constexpr std::size_t at_code = 8;
constexpr std::size_t at_text = 10;
constexpr std::size_t text_size = record_size - at_text;
constexpr std::size_t max_log_records = 4096;
constexpr std::size_t records_per_reply = 240;
constexpr std::size_t offset_size = 4;
constexpr std::size_t chunk_data_max = 1276;

constexpr std::uint8_t code_chunk = 0x20;
constexpr std::uint8_t code_check = 0x21;
constexpr std::uint8_t code_commit = 0x22;
constexpr std::uint8_t code_log_read = 23;
constexpr std::uint8_t code_log_count = 24;

// Our answers never ask for an acknowledgement.
constexpr std::uint8_t answer_flags = flags_discovery;

class log_book {
public:
    void append(std::uint16_t code, const std::string& text) {
        vorex_log_record_t r{};
        store_u32_le(r.bytes + at_sequence, next_sequence_++);
        const auto uptime = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - powered_on_);
        store_u32_le(r.bytes + at_uptime, static_cast<std::uint32_t>(uptime.count()));
        store_u16_le(r.bytes + at_code, code);
        std::memcpy(r.bytes + at_text, text.data(), std::min(text.size(), text_size - 1));
        if (records_.size() == max_log_records) records_.pop_front();
        records_.push_back(r);
    }
    std::size_t size() const { return records_.size(); }
    const vorex_log_record_t& operator[](std::size_t i) const { return records_[i]; }

private:
    std::chrono::steady_clock::time_point powered_on_ = clock::now();
    std::uint32_t next_sequence_ = 0;
    std::deque<vorex_log_record_t> records_;
};

enum class chunk_fate { taken, repeated, out_of_order };

class firmware_store {
public:
    chunk_fate take(std::uint32_t offset, const std::uint8_t* data, std::size_t n) {
        if (offset == 0) {
            image_ = image{};
        } else if (offset == image_.last_offset && n == image_.last_length && image_.received == offset + n) {
            return chunk_fate::repeated;
        }
        if (offset != image_.received) {
            ++rejected_;
            image_.broken = true;
            return chunk_fate::out_of_order;
        }
        image_.checksum.update(data, n);
        image_.received += n;
        image_.last_offset = offset;
        image_.last_length = n;
        return chunk_fate::taken;
    }
    bool intact() const { return !image_.broken; }
    bool committable() const { return !image_.broken && image_.received > 0; }
    std::uint64_t received() const { return image_.received; }
    std::uint16_t checksum() const { return image_.checksum.value(); }
    // The image is gone into flash: the store starts empty again.
    void committed() {
        image_ = image{};
        ++commits_;
    }
    device_model::firmware_status status() const { return {image_.received, checksum(), rejected_, commits_}; }

private:
    struct image {
        vorex_maintenance::image_checksum_state checksum;
        std::uint64_t received = 0;
        std::uint64_t last_offset = ~std::uint64_t(0);
        std::size_t last_length = 0;
        bool broken = false;
    };
    image image_;
    std::uint32_t rejected_ = 0;
    std::uint32_t commits_ = 0;
};

std::string checksum_text(std::uint16_t c) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", c);
    return text;
}

}  // namespace

struct device_model::maintenance_state {
    firmware_store firmware;
    log_book log;
    bool checksum_fault = false;
    clock::time_point commit_busy_until{};
};

std::shared_ptr<device_model::maintenance_state> device_model::power_on(const device_config& config) {
    auto state = std::make_shared<maintenance_state>();
    state->log.append(log_code::power_on, "power on, serial " + std::to_string(config.serial));
    return state;
}

void device_model::log_event_locked(std::uint16_t code, const std::string& text) { maintenance_->log.append(code, text); }

void device_model::log_event(std::uint16_t code, const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    log_event_locked(code, text);
}

std::uint32_t device_model::log_size() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<std::uint32_t>(maintenance_->log.size());
}

device_model::firmware_status device_model::firmware() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return maintenance_->firmware.status();
}

void device_model::set_checksum_fault(bool on) {
    std::lock_guard<std::mutex> guard(mutex_);
    maintenance_->checksum_fault = on;
}

std::vector<reply> device_model::handle_firmware(const header& h, const bytes& datagram) {
    std::lock_guard<std::mutex> guard(mutex_);
    maintenance_state& m = *maintenance_;
    const std::size_t payload = datagram.size() - header_size;
    switch (h.command_code) {
    case code_chunk: {
        if (payload <= offset_size || payload > offset_size + chunk_data_max) return {};
        const std::uint32_t offset = load_u32_le(datagram.data() + header_size);
        const std::size_t n = payload - offset_size;
        if (m.firmware.take(offset, datagram.data() + header_size + offset_size, n) == chunk_fate::out_of_order)
            log_event_locked(log_code::chunk_out_of_order,
                             "firmware chunk at offset " + std::to_string(offset) + " out of order, expected " +
                                 std::to_string(m.firmware.received()));
        return {{reply_to(h, answer_flags, {})}};
    }
    case code_check: {
        if (!m.firmware.intact()) return {};
        std::uint16_t sum = m.firmware.checksum();
        log_event_locked(log_code::firmware_checked, "firmware image of " + std::to_string(m.firmware.received()) +
                                                         " bytes, checksum " + checksum_text(sum));
        if (m.checksum_fault) sum = static_cast<std::uint16_t>(sum + 1);
        bytes value(2);
        store_u16_le(value.data(), sum);
        return {{reply_to(h, answer_flags, value)}};
    }
    case code_commit: {
        const auto now = clock::now();
        if (now < m.commit_busy_until) return {{reply_to(h, answer_flags, {})}};
        m.commit_busy_until = now + config_.commit_delay;
        bytes completion(4);
        if (m.firmware.committable()) {
            const std::uint16_t sum = m.firmware.checksum();
            store_u16_le(completion.data() + 2, sum);
            log_event_locked(log_code::firmware_committed, "firmware committed, " +
                                                               std::to_string(m.firmware.received()) +
                                                               " bytes, checksum " + checksum_text(sum));
            m.firmware.committed();
        } else {
            store_u16_le(completion.data(), 1);
            log_event_locked(log_code::firmware_refused, "firmware commit refused: no intact image");
        }
        return {{reply_to(h, answer_flags, {})}, {reply_to(h, answer_flags, completion), config_.commit_delay}};
    }
    default:
        return {};
    }
}

std::vector<reply> device_model::handle_log(const header& h, const bytes& datagram) {
    std::lock_guard<std::mutex> guard(mutex_);
    const log_book& log = maintenance_->log;
    bytes payload(4);
    store_u32_le(payload.data(), static_cast<std::uint32_t>(log.size()));
    if (h.command_code == code_log_count) return {{reply_to(h, answer_flags, payload)}};

    if (h.command_code != code_log_read || datagram.size() != header_size + 4) return {};
    const std::size_t index = load_u32_le(datagram.data() + header_size);
    const std::size_t first = std::min(index, log.size());
    const std::size_t count = std::min(records_per_reply, log.size() - first);
    payload.resize(4 + count * record_size);
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(payload.data() + 4 + i * record_size, log[first + i].bytes, record_size);
    return {{reply_to(h, answer_flags, payload)}};
}

log_entry decode_log_record(const vorex_log_record_t& record) {
    log_entry e;
    e.sequence = load_u32_le(record.bytes + at_sequence);
    e.uptime_ms = load_u32_le(record.bytes + at_uptime);
    e.code = load_u16_le(record.bytes + at_code);
    const auto* text = reinterpret_cast<const char*>(record.bytes + at_text);
    e.text.assign(text, strnlen(text, text_size));
    return e;
}

}  // namespace vorex_sim
