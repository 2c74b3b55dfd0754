// Library lifecycle and the session object.
#include <cstring>
#include <mutex>

#include "core/state.h"
#include "net/socket.h"
#include "vorex.h"

namespace {
constexpr std::uint32_t library_version = 0x13041600;
}

// Both lifecycle steps wait for every operation in flight, whichever lock
// it holds: those use the buffers and the socket layer that cleanup
// releases. An operation that starts later finds the library stopped (or
// whole again) and fails as before init. Both locks are taken at once, so
// no order between them can deadlock.
bool vorex::init() {
    std::scoped_lock quiet(vorex_core::service_lock(), vorex_core::data_lock());
    bool started = vorex_net::start();
    vorex_core::initialise();
    return started;
}

void vorex::cleanup() {
    std::scoped_lock quiet(vorex_core::service_lock(), vorex_core::data_lock());
    vorex_core::release();
    vorex_net::stop();
}

std::uint32_t vorex::version() { return library_version; }

vorex::vorex(const vorex_device_info_t* info, std::uint16_t first_counter)
    : user_params{},  // zeros until the first read, rather than indeterminate bytes
      message_counter(first_counter),
      service_socket(vorex_net::invalid_handle),
      data_socket(vorex_net::invalid_handle) {
    std::memcpy(&device_info, info, sizeof device_info);
    vorex_core::set_error(vorex_core::error_code::no_error);
}

vorex::vorex(const vorex& other)
    : device_info(other.device_info),
      user_params(other.user_params),
      message_counter(other.message_counter),
      service_socket(vorex_net::duplicate(other.service_socket)),
      data_socket(vorex_net::duplicate(other.data_socket)) {}

vorex::~vorex() { disconnect(); }

// Each object owns its handles: the assigned object takes duplicates of the
// other's sockets and closes what it held, so neither can later close a
// number that the other, or an unrelated socket, still uses.
vorex& vorex::operator=(const vorex& other) {
    if (this == &other) return *this;
    std::memcpy(&device_info, &other.device_info, sizeof device_info);
    std::memcpy(&user_params, &other.user_params, sizeof user_params);
    message_counter = other.message_counter;
    vorex_net::handle service = vorex_net::duplicate(other.service_socket);
    vorex_net::handle data = vorex_net::duplicate(other.data_socket);
    close_sockets();
    service_socket = service;
    data_socket = data;
    return *this;
}

const vorex_device_info_t& vorex::info() const { return device_info; }
vorex_user_params_t& vorex::params() { return user_params; }
const char* vorex::error_msg() { return vorex_core::error_text(); }

void vorex::close_sockets() {
    if (service_socket != vorex_net::invalid_handle) {
        vorex_net::close(service_socket);
        service_socket = vorex_net::invalid_handle;
    }
    if (data_socket != vorex_net::invalid_handle) {
        vorex_net::close(data_socket);
        data_socket = vorex_net::invalid_handle;
    }
}
