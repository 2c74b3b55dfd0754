#include "core/state.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "net/socket.h"

namespace vorex_core {
namespace {

const char* const error_table[] = {
    "No error",
    "Not implemented",
    "Failed to create service socket",
    "Failed to create data socket",
    "Failed to bind service socket",
    "Failed to bind data socket",
    "Failed to open specified file",
    "CRC does not match",
    "Socket operation timeout",
    "Malformed packet",
};
static_assert(sizeof error_table / sizeof error_table[0] == 10, "ten messages");

// Element 0 is the service lock, element 1 the data lock.
std::mutex locks[2];

// Operations under either lock and under none write the one shared text.
// This lock only orders those writes, so concurrent writers never race;
// what a reader sees is still whatever the latest operation wrote.
std::mutex error_write_lock;

struct running_state {
    std::unique_ptr<std::uint8_t[]> send = std::make_unique<std::uint8_t[]>(buffer_size);
    std::unique_ptr<std::uint8_t[]> receive = std::make_unique<std::uint8_t[]>(buffer_size);
    std::unique_ptr<std::uint8_t[]> data = std::make_unique<std::uint8_t[]>(buffer_size);
    char error_text[error_text_size] = {};
    char adapters[max_adapters][adapter_text_size] = {};
    int adapter_count = 0;
};

std::unique_ptr<running_state> current;

void snapshot_adapters(running_state& s) {
    for (std::uint32_t address : vorex_net::up_ipv4_addresses()) {
        // More addresses than slots are dropped rather than written past
        // the table.
        if (s.adapter_count == static_cast<int>(max_adapters)) break;
        const auto* b = reinterpret_cast<const std::uint8_t*>(&address);
        std::snprintf(s.adapters[s.adapter_count], adapter_text_size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
        ++s.adapter_count;
    }
}

}  // namespace

std::mutex& service_lock() { return locks[0]; }
std::mutex& data_lock() { return locks[1]; }

std::uint8_t* send_buffer() { return current ? current->send.get() : nullptr; }
std::uint8_t* receive_buffer() { return current ? current->receive.get() : nullptr; }
std::uint8_t* data_buffer() { return current ? current->data.get() : nullptr; }
bool running() { return current != nullptr; }

void set_error(error_code code) {
    std::lock_guard<std::mutex> guard(error_write_lock);
    if (!current) return;
    // Fixed-length copy: the text, then NULs to the end of the 256 bytes.
    const char* text = error_table[static_cast<int>(code)];
    const std::size_t length = std::strlen(text);
    std::memcpy(current->error_text, text, length);
    std::memset(current->error_text + length, 0, error_text_size - length);
}

const char* error_text() { return current ? current->error_text : ""; }

int adapter_count() { return current ? current->adapter_count : 0; }

const char* adapter_entry(int index) {
    if (!current || index < 0 || index >= current->adapter_count) return "";
    return current->adapters[index];
}

bool parse_dotted(const char* text, std::uint32_t* address) {
    std::uint8_t octets[4];
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (*p < '0' || *p > '9') return false;
        unsigned value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(*p++ - '0');
            ++digits;
        }
        if (value > 255) return false;
        octets[i] = static_cast<std::uint8_t>(value);
        if (i < 3 && *p++ != '.') return false;
    }
    if (*p != '\0') return false;
    std::memcpy(address, octets, 4);
    return true;
}

void initialise() {
    auto s = std::make_unique<running_state>();
    snapshot_adapters(*s);
    std::lock_guard<std::mutex> guard(error_write_lock);
    current = std::move(s);
}

void release() {
    std::lock_guard<std::mutex> guard(error_write_lock);
    current.reset();
}

}  // namespace vorex_core
