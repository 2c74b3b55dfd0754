// The 16-bit firmware image checksum, shared by the upload and the
// simulated sensor.
//
// Over bytes B[0..L-1]: every little-endian word B[2k] + 256 B[2k+1] adds
// word * 44111 to a 16-bit sum; an odd last byte adds itself unmultiplied;
// the result is sum XOR (sum >> 8). "abc" gives 35034.
#ifndef VOREX_MAINTENANCE_CHECKSUM_H
#define VOREX_MAINTENANCE_CHECKSUM_H

#include <cstddef>
#include <cstdint>

namespace vorex_maintenance {

constexpr std::uint32_t checksum_factor = 44111;  // 0xAC4F

// The checksum fed piece by piece in file order. A piece of odd length
// keeps its last byte back to pair it with the next piece's first, so any
// split of the data gives the value of one pass over all of it.
class image_checksum_state {
public:
    // The words are summed plainly and multiplied once, in value(): mod
    // 2^16, the sum of the products is the product of the sum.
    void update(const std::uint8_t* data, std::size_t length) {
        if (length == 0) return;
        std::uint32_t sum = words_;  // wraps mod 2^32, which keeps the low 16 bits exact
        if (has_pending_) {
            sum += word(pending_, data[0]);
            ++data;
            --length;
            has_pending_ = false;
        }
        const std::size_t words = length / 2;
        for (std::size_t k = 0; k < words; ++k) sum += word(data[2 * k], data[2 * k + 1]);
        if (length % 2 != 0) {
            pending_ = data[length - 1];
            has_pending_ = true;
        }
        words_ = static_cast<std::uint16_t>(sum);
    }

    std::uint16_t value() const {
        const auto s = static_cast<std::uint16_t>(words_ * checksum_factor + (has_pending_ ? pending_ : 0));
        return static_cast<std::uint16_t>(s ^ (s >> 8));
    }

private:
    static std::uint32_t word(std::uint8_t low, std::uint8_t high) {
        return static_cast<std::uint32_t>(low) | static_cast<std::uint32_t>(high) << 8;
    }

    std::uint16_t words_ = 0;  // the sum of the words so far, mod 2^16
    std::uint8_t pending_ = 0;  // first byte of a word whose second byte is still to come
    bool has_pending_ = false;
};

inline std::uint16_t image_checksum(const std::uint8_t* data, std::uint32_t length) {
    image_checksum_state state;
    state.update(data, length);
    return state.value();
}

}  // namespace vorex_maintenance

#endif
