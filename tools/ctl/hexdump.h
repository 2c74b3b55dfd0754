// Parameter bytes as an editable hex dump: 16 bytes a line, each line led
// by the offset of its first byte ("0010: 0a 0b ...").
#ifndef VOREXCTL_HEXDUMP_H
#define VOREXCTL_HEXDUMP_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorexctl {

std::string hex_dump(const std::uint8_t* data, std::size_t size);

// 0..15 for a hex digit in either case, -1 for anything else.
int hex_digit_value(char c);

// Reads what hex_dump writes, and also bare hex pairs without offsets.
// Text after '#' on a line is a comment. When a line carries an offset it
// must be the number of bytes read before it, so a line lost or moved in
// editing is refused rather than shifting every later byte. On failure
// returns false and a one-line reason naming the line.
bool parse_hex_dump(const std::string& text, std::vector<std::uint8_t>* bytes, std::string* error);

}  // namespace vorexctl

#endif
