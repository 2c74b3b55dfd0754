// Fuzz target for the maintenance paths that take bytes from outside:
//  - the running image checksum, fed in arbitrary pieces, must equal one
//    pass over the whole input by the plain definition;
//  - the simulated sensor's firmware and log handlers, fed any sequence of
//    datagrams (vorex-sim answers whatever reaches its port), must neither
//    misbehave nor answer with a datagram whose header disagrees with it.
//
// Input: byte 0 is the checksum piece length; the rest is a sequence of
// datagrams, each [kind][length][length bytes]. The kind selects the
// command (chunk, checksum, commit, log read, log count) and the bytes are
// its payload; kind 5 sends the bytes as they are, header included.
//
// Built with VOREX_FUZZ_REPLAY this file also has a main that replays the
// files and directories named on its command line, then a fixed number of
// generated inputs, so ordinary CI runs the target without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/wire.h"
#include "maintenance/checksum.h"
#include "sim/device_model.h"

namespace {

using namespace vorex_wire;
using vorex_sim::bytes;

void require(bool condition) {
    if (!condition) std::abort();
}

std::uint16_t plain_checksum(const std::uint8_t* data, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k + 1 < size; k += 2)
        sum += (static_cast<std::uint32_t>(data[k]) + 256u * data[k + 1]) * 44111u;
    if (size % 2 == 1) sum += data[size - 1];
    const auto s = static_cast<std::uint16_t>(sum);
    return static_cast<std::uint16_t>(s ^ (s >> 8));
}

void check_checksum(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    const std::size_t piece = data[0] == 0 ? 1 : data[0];
    vorex_maintenance::image_checksum_state state;
    for (std::size_t at = 0; at < size; at += piece) state.update(data + at, std::min(piece, size - at));
    require(state.value() == plain_checksum(data, size));
    require(vorex_maintenance::image_checksum(data, static_cast<std::uint32_t>(size)) == state.value());
}

struct command_kind {
    std::uint8_t command_class;
    std::uint8_t command_code;
};
constexpr command_kind kinds[] = {{class_firmware, 0x20}, {class_firmware, 0x21}, {class_firmware, 0x22},
                                  {class_discovery, 23},  {class_discovery, 24}};
constexpr std::size_t raw_kind = sizeof kinds / sizeof kinds[0];

bytes datagram_of(std::uint8_t kind, const std::uint8_t* payload, std::size_t size) {
    const std::size_t k = kind % (raw_kind + 1);
    if (k == raw_kind) return bytes(payload, payload + size);
    header h;
    h.flags = flags_request;
    h.serial = 1001;
    h.command_class = kinds[k].command_class;
    h.command_code = kinds[k].command_code;
    h.payload_length = static_cast<std::uint16_t>(size);
    bytes out(header_size + size);
    encode(h, out.data());
    if (size > 0) std::memcpy(out.data() + header_size, payload, size);
    return out;
}

void check_answers(const bytes& request, const std::vector<vorex_sim::reply>& answers) {
    for (const vorex_sim::reply& r : answers) {
        require(r.data.size() >= header_size);
        const header h = decode(r.data.data());
        require(h.payload_length == r.data.size() - header_size);
        require(h.command_class == request[at_class] && h.command_code == request[at_code]);
        if (h.command_class == class_discovery && h.command_code == 23)
            require((r.data.size() - 18) % sizeof(vorex_log_record_t) == 0 &&
                    r.data.size() <= 18 + 240 * sizeof(vorex_log_record_t));
    }
}

void run_one(const std::uint8_t* data, std::size_t size) {
    check_checksum(data, size);
    if (size < 1) return;
    vorex_sim::device_config config;
    config.commit_delay = std::chrono::milliseconds(0);
    vorex_sim::device_model model(config);
    std::size_t at = 1;
    while (at + 2 <= size) {
        const std::uint8_t kind = data[at];
        const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
        const bytes d = datagram_of(kind, data + at + 2, length);
        at += 2 + length;
        const auto answers = model.handle_service(d);
        if (d.size() >= header_size) check_answers(d, answers);
    }
    // What the store reports stays within what it could have taken.
    require(model.firmware().received <= size * 1276);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    run_one(data, size);
    return 0;
}

#ifdef VOREX_FUZZ_REPLAY
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace {

int replay_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    bytes input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(input.data(), input.size());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::directory_iterator(p))
                if (e.is_regular_file()) files += replay_file(e.path());
        } else {
            files += replay_file(p);
        }
    }
    // Generated inputs: chunk-heavy datagram sequences with random offsets
    // and lengths, seeded so a failure reproduces.
    std::mt19937 random(20240611u);
    constexpr int generated = 3000;
    for (int n = 0; n < generated; ++n) {
        bytes input(1 + random() % 2000);
        for (std::uint8_t& b : input) b = static_cast<std::uint8_t>(random());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("fuzz_maintenance: %d corpus files and %d generated inputs replayed\n", files, generated);
    return 0;
}
#endif
