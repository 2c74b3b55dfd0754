#!/usr/bin/python3
"""Writes the seed corpus of the session fuzz targets (fake_socket.h format).

Run from the repository root after changing a target's input format:
    /usr/bin/python3 fuzz/make_seeds.py
"""
import os
import struct

EMPTY = b"\xff\xff"


def dgram(b):
    return struct.pack("<H", len(b)) + b


def header(flags, serial=0x01020304, counter=0, cls=0x5E, code=0, length=0):
    return struct.pack("<B3sIHBBH", flags, b"\0\0\0", serial, counter, cls, code, length)


def net(*datagrams):
    return b"".join(d if d == EMPTY else dgram(d) for d in datagrams)


def write(target, name, data):
    os.makedirs(f"fuzz/corpus/{target}", exist_ok=True)
    with open(f"fuzz/corpus/{target}/{name}", "wb") as f:
        f.write(data)


def opts(select=0, failing=0xFF, value=0):
    return bytes([select, failing, value])


# --- search --------------------------------------------------------------
def record(mac, serial=7):
    r = bytearray(524)
    struct.pack_into("<I", r, 66, serial)
    r[140:144] = bytes([10, 0, 0, 9])
    r[144:148] = bytes([255, 255, 255, 0])
    r[166:172] = mac
    return bytes(r)


def reply(mac, counter=41, ask=True):
    return header(0x1C if ask else 0x14, 0xFFFFFFFF, counter, 0x5E, 0, 524) + record(mac)


A, B = b"\x00\x11\x22\x33\x44\x55", b"\x00\x11\x22\x33\x44\x66"
write("fuzz_search", "two_sensors_duplicate_and_stray",
      opts() + net(reply(B), reply(A, 65535, False), reply(B), header(0x14), b"\x01" * 20, EMPTY, reply(A)))
write("fuzz_search", "oversize_ends_the_loop", opts() + net(reply(A), b"\0" * 539, reply(B)))
write("fuzz_search", "flood_of_14_byte_datagrams", opts() + net(*[header(0x14)] * 1100, reply(A)))
write("fuzz_search", "broadcast_fails", opts(failing=0) + net(reply(A)))
write("fuzz_search", "ack_fails", opts(failing=1) + net(reply(A), reply(B)))

# --- service -------------------------------------------------------------
GROUPS = [192, 82, 35, 83, 91, 93, 35, 71, 36, 345, 54]
OPS = ["read_params", "write_params", "flush_params", "reboot"]
for k in range(11):
    OPS += [f"read_group_{k}", f"write_group_{k}"]
OPS += [f"read_log_{c}" for c in range(8)] + ["read_log_record_count", "write_firmware_image", "flush_firmware_image"]


def select(name):
    return OPS.index(name)


write("fuzz_service", "read_params", opts(select("read_params")) + net(header(0x1C, length=1400) + bytes(range(256)) * 5 + bytes(120)))
write("fuzz_service", "read_params_wrong_length", opts(select("read_params")) + net(b"\1" * 1413))
write("fuzz_service", "write_params_after_silence", opts(select("write_params")) + net(EMPTY, EMPTY, b"\2" * 20, header(0x14)))
write("fuzz_service", "flush_params_send_fails", opts(select("flush_params"), failing=0) + net(header(0x14)))
write("fuzz_service", "reboot_flood_beyond_bound", opts(select("reboot")) + net(*[b"\xee" * 20] * 120, header(0x14)))
write("fuzz_service", "reboot_resend_fails", opts(select("reboot"), failing=1) + net(*[EMPTY] * 7, header(0x14)))
for k, size in enumerate(GROUPS):
    write("fuzz_service", f"read_group_{k}_asks_ack",
          opts(select(f"read_group_{k}")) + net(b"\3" * (13 + size), header(0x1F, length=size) + bytes([k]) * size))
    write("fuzz_service", f"write_group_{k}", opts(select(f"write_group_{k}")) + net(EMPTY, header(0x14)))
write("fuzz_service", "read_group_0_silent", opts(select("read_group_0")))
for c in (0, 1, 7):
    write("fuzz_service", f"read_log_{c}", opts(select(f"read_log_{c}"), value=3) +
          net(header(0x14, length=4 + 136 * c) + struct.pack("<I", 3) + bytes([0x42]) * (136 * c)))
write("fuzz_service", "read_log_short", opts(select("read_log_2")) + net(b"\0" * 100))
write("fuzz_service", "read_log_record_count", opts(select("read_log_record_count")) + net(header(0x14, length=4) + struct.pack("<I", 99)))
write("fuzz_service", "firmware_three_chunks",
      opts(select("write_firmware_image"), value=30) + net(header(0x1C), EMPTY, header(0x14), header(0x14), header(0x1C, length=2) + b"\x12\x34"))
write("fuzz_service", "firmware_empty_file", opts(select("write_firmware_image"), value=0) + net(header(0x14, length=2) + b"\0\0"))
write("fuzz_service", "firmware_chunk_unanswered", opts(select("write_firmware_image"), value=5) + net(b"\0" * 15))
write("fuzz_service", "firmware_commit", opts(select("flush_firmware_image")) + net(header(0x14), header(0x14), b"\0" * 20, header(0x14, length=4) + b"done"))
write("fuzz_service", "firmware_commit_silent_completion", opts(select("flush_firmware_image")) + net(header(0x14)))

# --- get_image -----------------------------------------------------------
IMAGE = 316224


def chunk(offset, data, ask=False):
    return header(0x1C if ask else 0x14, cls=0x53, code=0x10, length=4 + len(data)) + struct.pack("<I", offset) + data


answer = header(0x1C, cls=0x53, code=0x10, length=6) + bytes(6)
whole = [chunk(o, bytes([o // 32750 + 1]) * min(32750, IMAGE - o), ask=(o == 0)) for o in range(0, IMAGE, 32750)]
write("fuzz_get_image", "whole_image_default_size", opts(0) + net(answer, *whole))
write("fuzz_get_image", "whole_image_final_ack_fails", opts(0, failing=1) + net(*whole))
write("fuzz_get_image", "flood_of_20_byte_chunks", opts(0) + net(answer, *[chunk(0, b"\x77\x77")] * 200, chunk(IMAGE - 2, b"zz")))
write("fuzz_get_image", "straddles_end_and_wraps", opts(1) + net(chunk(IMAGE - 10, b"\5" * 100, ask=True), chunk(0xFFFFFFF0, b"\6" * 40)))
write("fuzz_get_image", "short_and_oversize", opts(1) + net(chunk(0, b"\1" * 10), b"\0" * 15, b"\0" * 17, header(0x14), b"\0" * 1415, chunk(5, b"x")))
write("fuzz_get_image", "tiny_receive_size", opts(4) + net(chunk(0, b"a"), chunk(1, b""), header(0x1C) + b"\0", chunk(2, b"bc")))
write("fuzz_get_image", "request_fails", opts(0, failing=0) + net(answer))


# --- get_result ----------------------------------------------------------
def profile(kind, length=None):
    points = 648 if kind in (16, 17) else 1296
    size = 64 + points * (4 if kind in (17, 19) else 2)
    d = bytearray(size)
    d[0] = kind
    struct.pack_into("<HHH", d, 28, 3, 5, 7)
    for i in range(0, points, 7):
        struct.pack_into("<H", d, 64 + i * (4 if kind in (17, 19) else 2), i + 1)
    return bytes(d[: length if length is not None else size])


write("fuzz_get_result", "every_type_and_malformed",
      opts() + net(profile(16), profile(17), profile(18), profile(19), profile(19, 5000), b"\x14" + bytes(70), b"\x10" * 63, EMPTY))
write("fuzz_get_result", "oversize_and_empty", opts() + net(b"\x13" * 5249, b"", profile(16, 64)))
