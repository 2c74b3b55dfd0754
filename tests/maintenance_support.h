// Helpers of the maintenance tests: firmware files in a per-test temporary
// directory, an independent checksum oracle and firmware request builders.
#ifndef VOREX_TEST_MAINTENANCE_SUPPORT_H
#define VOREX_TEST_MAINTENANCE_SUPPORT_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vorex_test {

// A directory of its own for one test, removed with everything in it.
class temp_dir {
public:
    temp_dir() : path_(make_temp_directory("vorex-maint-")) {
        EXPECT_FALSE(path_.empty()) << "cannot create a temporary directory";
    }
    ~temp_dir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    std::string path(const std::string& name) const { return path_ + "/" + name; }

    std::string write(const std::string& name, const bytes& content) const {
        std::string p = path(name);
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        EXPECT_TRUE(out.good()) << p;
        return p;
    }

    // A file of `size` bytes that takes no disk space: all zeros but the last.
    std::string sparse(const std::string& name, std::uint64_t size) const {
        std::string p = path(name);
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.seekp(static_cast<std::streamoff>(size - 1));
        out.put('\x01');
        EXPECT_TRUE(out.good()) << p;
        return p;
    }

private:
    std::string path_;
};

// Bytes that differ from chunk to chunk and from position to position.
inline bytes firmware_pattern(std::size_t size, std::uint32_t start = 7) {
    bytes out(size);
    std::uint32_t x = start * 2654435761u + 1;
    for (std::uint8_t& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return out;
}

// The image checksum straight from its definition, over a whole image.
inline std::uint16_t reference_checksum(const bytes& data) {
    unsigned long long sum = 0;
    for (std::size_t k = 0; k + 1 < data.size(); k += 2)
        sum += (static_cast<unsigned long long>(data[k]) + 256ull * data[k + 1]) * 44111ull;
    if (data.size() % 2 == 1) sum += data.back();
    const auto s = static_cast<std::uint16_t>(sum % 65536);
    return static_cast<std::uint16_t>(s ^ (s >> 8));
}

inline bool is_request(const bytes& d) { return d.size() >= vorex_wire::header_size && (d[0] >> 4) == 1; }
inline std::uint16_t counter_of(const bytes& d) { return vorex_wire::load_u16_le(&d[8]); }
inline std::uint32_t chunk_offset(const bytes& d) { return vorex_wire::load_u32_le(&d[14]); }
inline bool is_command(const bytes& d, std::uint8_t command_class, std::uint8_t command_code) {
    return d.size() >= vorex_wire::header_size && d[10] == command_class && d[11] == command_code;
}

// A sensor that answers every chunk with a bare header and the checksum
// request with `checksum`, its replies carrying `flags`.
inline std::function<std::vector<bytes>(const bytes&, std::size_t)> firmware_sensor(std::uint16_t checksum,
                                                                                    std::uint8_t flags = 0x14) {
    return [checksum, flags](const bytes& req, std::size_t) -> std::vector<bytes> {
        if (!is_request(req)) return {};
        if (is_command(req, 0x5A, 0x20)) return {reply_for(req, flags)};
        if (is_command(req, 0x5A, 0x21)) {
            bytes value(2);
            vorex_wire::store_u16_le(value.data(), checksum);
            return {reply_for(req, flags, value)};
        }
        return {};
    };
}

// A scripted sensor and a directory for firmware files.
class firmware_test : public scripted_test {
protected:
    // Waits counted in empty receives run faster on a shorter socket timeout.
    void reconnect_with_timeout(int milliseconds) {
        vorex_test_seam::set_receive_timeout_ms(milliseconds);
        session->disconnect();
        ASSERT_TRUE(session->connect());
    }

    temp_dir dir;
};

}  // namespace vorex_test

#endif
