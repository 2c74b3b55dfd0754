#include "hexdump.h"

#include <cstdio>

namespace vorexctl {

namespace {

constexpr std::size_t bytes_per_line = 16;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Parses a run of hex digits as one number; false on anything else.
bool parse_offset(const std::string& text, std::size_t* value) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && is_space(text[begin])) ++begin;
    while (end > begin && is_space(text[end - 1])) --end;
    if (begin == end || end - begin > 8) return false;
    std::size_t v = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const int d = hex_digit_value(text[i]);
        if (d < 0) return false;
        v = v * 16 + static_cast<std::size_t>(d);
    }
    *value = v;
    return true;
}

}  // namespace

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string hex_dump(const std::uint8_t* data, std::size_t size) {
    std::string out;
    char cell[24];
    for (std::size_t at = 0; at < size; at += bytes_per_line) {
        std::snprintf(cell, sizeof cell, "%04zx:", at);
        out += cell;
        for (std::size_t i = at; i < size && i < at + bytes_per_line; ++i) {
            std::snprintf(cell, sizeof cell, " %02x", data[i]);
            out += cell;
        }
        out += '\n';
    }
    return out;
}

bool parse_hex_dump(const std::string& text, std::vector<std::uint8_t>* bytes, std::string* error) {
    std::vector<std::uint8_t> out;
    std::size_t line_number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++line_number;
        const std::string where = "line " + std::to_string(line_number) + ": ";

        line = line.substr(0, line.find('#'));
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::size_t offset = 0;
            if (!parse_offset(line.substr(0, colon), &offset)) {
                *error = where + "offset is not a hex number";
                return false;
            }
            if (offset != out.size()) {
                *error = where + "offset " + line.substr(0, colon) + " does not follow the " +
                         std::to_string(out.size()) + " bytes before it";
                return false;
            }
            line = line.substr(colon + 1);
        }
        const std::size_t column_base = colon == std::string::npos ? 0 : colon + 1;
        // Pairs may stand apart or run together ("0a 0b" or "0a0b").
        for (std::size_t i = 0; i < line.size();) {
            if (is_space(line[i])) {
                ++i;
                continue;
            }
            const int high = hex_digit_value(line[i]);
            const int low = i + 1 < line.size() ? hex_digit_value(line[i + 1]) : -1;
            if (high < 0 || low < 0) {
                *error = where + "expected a pair of hex digits at column " + std::to_string(column_base + i + 1);
                return false;
            }
            out.push_back(static_cast<std::uint8_t>(high * 16 + low));
            i += 2;
        }
    }
    *bytes = std::move(out);
    return true;
}

}  // namespace vorexctl
