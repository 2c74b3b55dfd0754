#include "sim/replay.h"

#include <pcap/pcap.h>

#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "core/wire.h"
#include "data/profile_decode.h"

namespace vorex_sim {

namespace {

using vorex_wire::load_u16_le;

std::uint16_t load_u16_be(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

// Where the IPv4 header starts behind the link layer, or npos when the
// frame carries no IPv4.
constexpr std::size_t no_ip = static_cast<std::size_t>(-1);
std::size_t ip_offset(int link_type, const std::uint8_t* frame, std::size_t length) {
    auto ethertype_at = [&](std::size_t at, std::size_t ip) {
        return length >= at + 2 && load_u16_be(frame + at) == 0x0800 ? ip : no_ip;
    };
    switch (link_type) {
    case DLT_EN10MB:
        return ethertype_at(12, 14);
    case DLT_LINUX_SLL:
        return ethertype_at(14, 16);
    case DLT_LINUX_SLL2:
        return ethertype_at(0, 20);
    case DLT_NULL:
        return length >= 4 ? 4 : no_ip;
    case DLT_RAW:
    case DLT_IPV4:
        return 0;
    default:
        return no_ip;
    }
}

struct udp_datagram {
    std::uint32_t source = 0;  // network byte order, as the device record holds addresses
    std::uint16_t source_port = 0;
    std::uint16_t destination_port = 0;
    bytes payload;
};

// Puts IP fragments back together; datagrams sent whole pass straight
// through. Profiles of the larger types exceed an Ethernet frame.
class reassembler {
public:
    // The whole UDP datagram once its last missing piece is in.
    std::optional<udp_datagram> take(const std::uint8_t* ip, std::size_t length) {
        if (length < 20 || (ip[0] >> 4) != 4 || ip[9] != 17) return std::nullopt;
        const std::size_t header = 4u * (ip[0] & 0x0F);
        const std::size_t total = std::min<std::size_t>(load_u16_be(ip + 2), length);
        if (header < 20 || total < header) return std::nullopt;
        const std::uint16_t fragment = load_u16_be(ip + 6);
        const bool more = (fragment & 0x2000) != 0;
        const std::size_t offset = 8u * (fragment & 0x1FFF);
        std::uint32_t source, destination;
        std::memcpy(&source, ip + 12, 4);
        std::memcpy(&destination, ip + 16, 4);
        const std::uint8_t* data = ip + header;
        const std::size_t size = total - header;
        if (!more && offset == 0) return udp_of(source, data, size);

        const auto key = std::make_tuple(source, destination, load_u16_be(ip + 4));
        partial& p = partials_[key];
        if (p.data.size() < offset + size) p.data.resize(offset + size);
        std::memcpy(p.data.data() + offset, data, size);
        p.received += size;
        if (!more) p.expected = offset + size;
        if (p.expected == 0 || p.received < p.expected) return std::nullopt;
        const bytes whole = std::move(p.data);
        partials_.erase(key);
        return udp_of(source, whole.data(), whole.size());
    }

private:
    struct partial {
        bytes data;
        std::size_t received = 0;
        std::size_t expected = 0;  // known once the last fragment came
    };
    static std::optional<udp_datagram> udp_of(std::uint32_t source, const std::uint8_t* udp, std::size_t size) {
        if (size < 8) return std::nullopt;
        const std::size_t length = std::min<std::size_t>(load_u16_be(udp + 4), size);
        if (length < 8) return std::nullopt;
        return udp_datagram{source, load_u16_be(udp), load_u16_be(udp + 2), bytes(udp + 8, udp + length)};
    }
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint16_t>, partial> partials_;
};

bool is_discovery_reply(const udp_datagram& d) {
    return d.source_port == vorex_wire::discovery_port && d.payload.size() == vorex_wire::discovery_reply_size &&
           d.payload[vorex_wire::at_class] == vorex_wire::class_discovery && d.payload[vorex_wire::at_code] == 0;
}

bool looks_like_profile(const bytes& payload) {
    const vorex_data::profile_layout* layout = payload.empty() ? nullptr : vorex_data::layout_of(payload[0]);
    return layout && payload.size() == layout->size;
}

struct pcap_closer {
    void operator()(pcap_t* p) const { pcap_close(p); }
};

}  // namespace

recording read_recording(const std::string& path) {
    char error[PCAP_ERRBUF_SIZE] = {};
    std::unique_ptr<pcap_t, pcap_closer> file(pcap_open_offline(path.c_str(), error));
    if (!file) throw std::runtime_error("cannot read " + path + ": " + error);
    const int link_type = pcap_datalink(file.get());

    struct candidate {
        udp_datagram datagram;
        std::chrono::microseconds at;
    };
    std::vector<candidate> datagrams;
    recording out;
    reassembler fragments;
    pcap_pkthdr* h = nullptr;
    const u_char* frame = nullptr;
    for (int got; (got = pcap_next_ex(file.get(), &h, &frame)) != PCAP_ERROR_BREAK;) {
        if (got == PCAP_ERROR) throw std::runtime_error(path + ": " + pcap_geterr(file.get()));
        const std::size_t ip = ip_offset(link_type, frame, h->caplen);
        if (ip == no_ip || ip >= h->caplen) continue;
        auto d = fragments.take(frame + ip, h->caplen - ip);
        if (!d) continue;
        if (!out.record && is_discovery_reply(*d)) {
            vorex_device_info_t record;
            std::memcpy(&record, d->payload.data() + vorex_wire::header_size, sizeof record);
            out.record = record;
            continue;
        }
        const auto at = std::chrono::seconds(h->ts.tv_sec) + std::chrono::microseconds(h->ts.tv_usec);
        datagrams.push_back({std::move(*d), std::chrono::duration_cast<std::chrono::microseconds>(at)});
    }
    // The discovery reply may come after the first profiles: profiles are
    // told apart once the whole file has been read.
    std::optional<std::chrono::microseconds> origin;
    for (candidate& c : datagrams) {
        const bool profile = out.record ? c.datagram.destination_port == out.record->data_port &&
                                              c.datagram.source == out.record->ip_address
                                        : looks_like_profile(c.datagram.payload);
        if (!profile) continue;
        if (!origin) origin = c.at;
        out.profiles.push_back({std::move(c.datagram.payload), c.at - *origin});
    }
    if (out.profiles.empty()) throw std::runtime_error(path + " holds no profile datagrams");
    return out;
}

void adopt_record(const vorex_device_info_t& record, device_config& config, bool keep_address, bool keep_service_port) {
    config.base_record.assign(reinterpret_cast<const std::uint8_t*>(&record),
                              reinterpret_cast<const std::uint8_t*>(&record) + sizeof record);
    config.serial = record.serial;
    config.data_port = record.data_port;
    config.image_packet_size = record.image_packet_size;
    std::memcpy(config.mac.data(), record.mac_address, config.mac.size());
    if (!keep_address) {
        config.ip_address = record.ip_address;
        config.subnet_mask = record.subnet_mask;
    }
    if (!keep_service_port) config.service_port = record.service_port;
}

std::uint64_t play(const recording& r, udp_endpoint& out, vorex_net::endpoint to, double speed, bool loop,
                   const std::atomic<bool>& stop) {
    using namespace std::chrono;
    const auto span = r.profiles.back().at;
    // Round after round, the first profile follows the last one by the
    // recording's mean spacing.
    const auto gap = r.profiles.size() > 1 ? span / static_cast<long>(r.profiles.size() - 1) : microseconds(100000);
    std::uint64_t sent = 0;
    auto round_start = steady_clock::now();
    do {
        for (const recorded_datagram& d : r.profiles) {
            if (stop) return sent;
            std::this_thread::sleep_until(round_start + duration_cast<steady_clock::duration>(d.at / speed));
            out.send(d.payload, to);
            ++sent;
        }
        round_start += duration_cast<steady_clock::duration>((span + gap) / speed);
    } while (loop && !stop);
    return sent;
}

}  // namespace vorex_sim
