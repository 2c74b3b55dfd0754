// Header codec and little-endian helpers.
#include "support/test_support.h"

namespace vorex_test {
namespace {

TEST(wire, header_encodes_fields_little_endian_at_their_offsets) {
    bytes b = header_bytes(0x1C, 0x11223344, 0xBEEF, 0x5E, 0x07, 0x0153);
    EXPECT_EQ(b, (bytes{0x1C, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0xEF, 0xBE, 0x5E, 0x07, 0x53, 0x01}));
    vorex_wire::header h = vorex_wire::decode(b.data());
    EXPECT_EQ(h.serial, 0x11223344u);
    EXPECT_EQ(h.counter, 0xBEEF);
    EXPECT_EQ(h.payload_length, 0x0153);
}

TEST(wire, command_words_match_class_and_code) {
    EXPECT_EQ(vorex_wire::command_word(0x50, 0x02), 0x0250);
    EXPECT_EQ(vorex_wire::command_word(0x5E, 0x01), 0x015E);
    EXPECT_EQ(vorex_wire::command_word(0x53, 0x10), 0x1053);
    EXPECT_EQ(vorex_wire::command_word(0x5A, 0x20), 0x205A);
}

TEST(wire, acknowledgement_flags_keep_low_bits) {
    struct { std::uint8_t in, out; } cases[] = {{0x1C, 0x24}, {0x1B, 0x27}, {0x14, 0x24}, {0x18, 0x24}, {0xFF, 0x27}};
    for (auto c : cases) EXPECT_EQ(vorex_wire::ack_flags(c.in), c.out) << int(c.in);
    bytes b = header_bytes(0x1D, 7, 9, 0x5E, 1, 192);
    b[1] = 0xAA;
    vorex_wire::make_acknowledgement(b.data());
    bytes expected = header_bytes(0x25, 7, 9, 0x5E, 1, 0);
    expected[1] = 0xAA;  // reserved bytes travel back unchanged
    EXPECT_EQ(b, expected);
}

TEST(wire, dotted_quads_parse_to_network_order) {
    std::uint32_t a = 0;
    ASSERT_TRUE(vorex_core::parse_dotted("192.168.1.7", &a));
    const auto* b = reinterpret_cast<const std::uint8_t*>(&a);
    EXPECT_EQ(b[0], 192);
    EXPECT_EQ(b[3], 7);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1..2.3", "1.2.3.4 "})
        EXPECT_FALSE(vorex_core::parse_dotted(bad, &a)) << bad;
}

}  // namespace
}  // namespace vorex_test
