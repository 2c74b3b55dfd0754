// Process-wide state shared by every session: the two locks, the three
// transfer buffers, the error text and the snapshot of host addresses.
#ifndef VOREX_CORE_STATE_H
#define VOREX_CORE_STATE_H

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace vorex_core {

constexpr std::size_t buffer_size = 32768;
constexpr std::size_t error_text_size = 256;
constexpr std::size_t max_adapters = 64;
constexpr std::size_t adapter_text_size = 64;

enum class error_code : int {
    no_error = 0,
    not_implemented,
    create_service_socket,
    create_data_socket,
    bind_service_socket,
    bind_data_socket,
    open_file,
    crc_mismatch,
    socket_timeout,
    malformed_packet,
};

// The two process-wide locks live as long as the library is loaded.
std::mutex& service_lock();
std::mutex& data_lock();

// Between init and cleanup these are non-null.
std::uint8_t* send_buffer();
std::uint8_t* receive_buffer();
std::uint8_t* data_buffer();
// True between init and cleanup. Operations refuse to run otherwise.
bool running();

// Copies the table text into the error text (a no-op outside init/cleanup).
void set_error(error_code code);
// The error text, or an empty text outside init/cleanup.
const char* error_text();

// The snapshot of host addresses taken by init.
int adapter_count();
const char* adapter_entry(int index);
// Parses a dotted quad "a.b.c.d" into a network-order address; false when
// the text is not one.
bool parse_dotted(const char* text, std::uint32_t* address);

// Set up and tear down what exists between init and cleanup.
// REQUIRES: the caller holds both locks, so no operation is using the
// buffers while they come or go.
void initialise();
void release();

}  // namespace vorex_core

#endif
