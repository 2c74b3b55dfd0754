// Text the tool prints: addresses, the sensor table and its JSON form,
// profiles as CSV or JSON lines, log records as hex lines.
#ifndef VOREXCTL_FORMAT_H
#define VOREXCTL_FORMAT_H

#include <cstdint>
#include <string>
#include <vector>

#include "select.h"
#include "vorex.h"

namespace vorexctl {

// "a.b.c.d" of an address in network byte order (first octet first in
// memory), as the device record holds it.
std::string dotted(std::uint32_t address);
// False unless `text` is exactly four decimal octets 0..255 joined by dots.
bool parse_dotted(const std::string& text, std::uint32_t* address);
// "02:56:58:00:00:01".
std::string mac_text(const std::uint8_t* mac);
// Six two-digit hex octets joined by ':' or '-'.
bool parse_mac(const std::string& text, mac_address* mac);

// A table with one line per sensor under a heading line.
std::string sensor_table(const std::vector<vorex_device_info_t>& sensors);
// One JSON object for a sensor, and a JSON array of them (one line).
std::string sensor_json(const vorex_device_info_t& sensor);
std::string sensors_json(const std::vector<vorex_device_info_t>& sensors);

// The shortest text that reads back as the same double; JSON gets null for
// values JSON cannot hold (infinities and NaN from a divisor of zero).
std::string number_text(double value);
std::string json_number(double value);

enum class profile_format { csv, json };

// CSV: a heading line, then one line per point: profile number, x, z.
std::string profile_csv_heading();
std::string profile_csv(std::uint64_t number, const vorex_profile& profile);
// JSON lines: one object per profile, ending in a newline.
std::string profile_json(std::uint64_t number, const vorex_profile& profile);

// "<index>: <272 hex digits>" and a newline.
std::string log_line(std::uint64_t index, const vorex_log_record_t& record);

}  // namespace vorexctl

#endif
