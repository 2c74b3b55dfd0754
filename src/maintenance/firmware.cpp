// Firmware upload, checksum verification and commit.
//
// The upload streams the file: one chunk buffer and a running checksum live
// for the call, so memory stays flat whatever the file's size. The checksum
// covers exactly the bytes the sensor answered, in file order.
//
// Failures and what error_msg() reads afterwards:
//   the file cannot be opened (or no path)    "Failed to open specified file"
//   a chunk not sent whole or not answered     "Socket operation timeout"
//   the checksum request not answered          "Socket operation timeout"
//   the sensor's checksum differs              "CRC does not match"
//   the checksum request not sent whole        "No error"
//   the file is 4 GiB or larger                "No error", nothing sent: the
//       file opened, nothing timed out and no checksum was compared, so no
//       message of the table would tell the truth; the false result does
//   a read error other than end of file        "No error", no checksum
//       request: the upload stops where the file failed, for the same reason
// An empty file sends no chunk and goes on to the checksum request: the
// sensor confirms it holds an empty image by answering 0.
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "core/exchange.h"
#include "core/state.h"
#include "core/wire.h"
#include "maintenance/checksum.h"
#include "net/socket.h"
#include "vorex.h"

namespace {

using vorex_core::ack_rule;
using vorex_core::command;
using vorex_core::count_rule;
using vorex_core::error_code;
using vorex_core::service_link;
using vorex_core::service_operation;
using vorex_wire::class_firmware;
using vorex_wire::flags_request;
using vorex_wire::header_size;

constexpr int bare_reply = static_cast<int>(header_size);
constexpr std::size_t offset_size = 4;
constexpr std::size_t chunk_data_max = 1276;
constexpr int checksum_size = 2;
constexpr int completion_payload = 4;
constexpr int completion_wait_ms = 100000;
constexpr std::size_t file_buffer_size = 64 * 1024;
// Offsets are 32-bit: the last byte of the file must sit at offset 2^32 - 1
// or below.
constexpr std::uint64_t max_image_size = 0xFFFFFFFFu;

constexpr command firmware_chunk{class_firmware, 0x20, flags_request, bare_reply, 10000, count_rule::on_send,
                                 ack_rule::when_asked};
constexpr command firmware_check{class_firmware, 0x21, flags_request, bare_reply + checksum_size, 10000,
                                 count_rule::on_send, ack_rule::when_asked};
constexpr command firmware_commit{class_firmware, 0x22, flags_request, bare_reply, 2000, count_rule::never,
                                  ack_rule::never};

enum class upload_end { file_read, no_answer, file_fault };

struct file_close {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
// Not inherited by a child the host starts during the upload.
using firmware_file = std::unique_ptr<std::FILE, file_close>;

// Sends the file chunk by chunk, one in flight, each read only after the
// previous one was answered, and feeds the answered bytes to `sum`.
upload_end send_chunks(const service_link& link, std::FILE* file, std::uint64_t total,
                       const vorex::progress_callback* progress, vorex_maintenance::image_checksum_state& sum) {
    std::array<std::uint8_t, offset_size + chunk_data_max> chunk;
    std::uint64_t offset = 0;
    for (;;) {
        const std::size_t n = std::fread(chunk.data() + offset_size, 1, chunk_data_max, file);
        if (std::ferror(file)) return upload_end::file_fault;
        if (n > 0) {
            // A source whose size was unknown, or that grew meanwhile, may
            // still run past what 32-bit offsets describe.
            if (offset + n > max_image_size) return upload_end::file_fault;
            vorex_wire::store_u32_le(chunk.data(), static_cast<std::uint32_t>(offset));
            if (!vorex_core::exchange(link, firmware_chunk, chunk.data(), static_cast<int>(offset_size + n)))
                return upload_end::no_answer;
            sum.update(chunk.data() + offset_size, n);
            offset += n;
            if (progress && *progress) (*progress)(offset, total);
        }
        if (std::feof(file)) return upload_end::file_read;
    }
}

bool sensor_checksum_matches(const service_link& link, std::uint16_t expected) {
    const std::uint16_t before = *link.counter;
    if (!vorex_core::exchange(link, firmware_check, nullptr, 0)) {
        // The counter moves once the request went out whole: only then was
        // it the sensor that failed to answer.
        if (*link.counter != before) vorex_core::set_error(error_code::socket_timeout);
        return false;
    }
    if (vorex_wire::load_u16_le(vorex_core::receive_buffer() + header_size) != expected) {
        vorex_core::set_error(error_code::crc_mismatch);
        return false;
    }
    return true;
}

bool upload_firmware(vorex& session, const char* path, const vorex::progress_callback* progress) {
    service_operation op(session);
    if (!op.ready()) return false;

    const firmware_file file(path ? vorex_net::open_file_for_reading(path) : nullptr);
    if (!file) {
        vorex_core::set_error(error_code::open_file);
        return false;
    }
    // Fifty chunks a read from the file rather than three.
    std::setvbuf(file.get(), nullptr, _IOFBF, file_buffer_size);
    const std::int64_t size = vorex_net::file_size(file.get());
    if (size >= 0 && static_cast<std::uint64_t>(size) > max_image_size) return false;

    vorex_maintenance::image_checksum_state sum;
    const std::uint64_t total = size >= 0 ? static_cast<std::uint64_t>(size) : 0;
    switch (send_chunks(op.link(), file.get(), total, progress, sum)) {
    case upload_end::file_read:
        break;
    case upload_end::no_answer:
        vorex_core::set_error(error_code::socket_timeout);
        return false;
    case upload_end::file_fault:
        return false;
    }
    return sensor_checksum_matches(op.link(), sum.value());
}

}  // namespace

bool vorex::write_firmware_image(const char* path) { return upload_firmware(*this, path, nullptr); }

bool vorex::write_firmware_image(const char* path, const progress_callback& progress) {
    return upload_firmware(*this, path, &progress);
}

bool vorex::flush_firmware_image() {
    service_operation op(*this);
    if (!op.ready() || !vorex_core::exchange(op.link(), firmware_commit, nullptr, 0)) return false;
    // No resend while the sensor commits: a repeated commit request could
    // start the commit over. Stray 14-byte answers are passed over by length.
    std::uint8_t header[header_size];
    if (!vorex_core::receive_reply(op.link().socket, header, completion_wait_ms, completion_payload, nullptr,
                                   nullptr)) {
        vorex_core::set_error(error_code::socket_timeout);
        return false;
    }
    return true;
}
