// record: the chosen sensor's traffic, byte for byte with capture times,
// into a pcap file that tcpdump, Wireshark and vorex-sim --replay read.
#include <grp.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

#include "commands.h"
#include "files.h"
#include "format.h"
#include "option_checks.h"

namespace vorexctl {

namespace {

using clock = std::chrono::steady_clock;

constexpr unsigned discovery_port = 50011;
constexpr std::size_t header_size = 14;  // of every service datagram, discovery replies included
constexpr int reply_wait_ms = 2000;      // for the search's reply to come through the capture
constexpr int snapshot_length = 65535;
constexpr int capture_buffer_bytes = 16 << 20;  // room for a burst at thousands of profiles a second
constexpr int capture_timeout_ms = 100;         // how soon --duration is noticed when nothing arrives

volatile std::sig_atomic_t interrupted = 0;
void on_interrupt(int) { interrupted = 1; }

// Ctrl-C and SIGTERM end a recording, which is then flushed, also while
// nothing arrives: without SA_RESTART the wait for packets returns at the
// signal. The previous handling comes back afterwards.
class stop_signals {
public:
    stop_signals() {
        struct sigaction a {};
        a.sa_handler = on_interrupt;
        sigemptyset(&a.sa_mask);
        interrupted = 0;
        sigaction(SIGINT, &a, &previous_[0]);
        sigaction(SIGTERM, &a, &previous_[1]);
    }
    ~stop_signals() {
        sigaction(SIGINT, &previous_[0], nullptr);
        sigaction(SIGTERM, &previous_[1], nullptr);
    }
    stop_signals(const stop_signals&) = delete;
    stop_signals& operator=(const stop_signals&) = delete;

private:
    struct sigaction previous_[2];
};

struct capture_closer {
    void operator()(pcap_t* p) const { pcap_close(p); }
};
struct dumper_closer {
    void operator()(pcap_dumper_t* d) const { pcap_dump_close(d); }
};
using capture_handle = std::unique_ptr<pcap_t, capture_closer>;
using dump_handle = std::unique_ptr<pcap_dumper_t, dumper_closer>;

struct record_options {
    selector_options sensor;
    std::string out;
    double duration = 0;
    std::uint64_t count = 0;
    bool service = false;
    std::string interface_name;
};

bool same_subnet(std::uint32_t a, std::uint32_t b, std::uint32_t mask) { return (a & mask) == (b & mask); }

// The interface whose subnet holds the address the sensor claims.
std::string interface_for(std::uint32_t sensor_address) {
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* all = nullptr;
    if (pcap_findalldevs(&all, error) != 0) fail(std::string("cannot list interfaces: ") + error);
    std::unique_ptr<pcap_if_t, void (*)(pcap_if_t*)> owned(all, &pcap_freealldevs);
    for (pcap_if_t* d = all; d; d = d->next)
        for (pcap_addr_t* a = d->addresses; a; a = a->next) {
            if (!a->addr || a->addr->sa_family != AF_INET || !a->netmask) continue;
            std::uint32_t address, mask;
            std::memcpy(&address, a->addr->sa_data + 2, 4);  // sin_addr, network byte order
            std::memcpy(&mask, a->netmask->sa_data + 2, 4);
            if (same_subnet(address, sensor_address, mask)) return d->name;
        }
    fail("no interface reaches " + dotted(sensor_address) + "; name one with --interface");
}

// Opens a live capture; no privilege is one clear line and exit status 1.
capture_handle open_capture(const std::string& device) {
    char error[PCAP_ERRBUF_SIZE] = {};
    capture_handle p(pcap_create(device.c_str(), error));
    if (!p) fail("cannot capture on " + device + ": " + error);
    pcap_set_snaplen(p.get(), snapshot_length);
    pcap_set_immediate_mode(p.get(), 1);
    pcap_set_buffer_size(p.get(), capture_buffer_bytes);
    pcap_set_timeout(p.get(), capture_timeout_ms);
    const int status = pcap_activate(p.get());
    if (status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED)
        fail("capturing on " + device + " needs the privilege to capture (root, or CAP_NET_RAW and CAP_NET_ADMIN)");
    if (status < 0) fail("cannot capture on " + device + ": " + pcap_geterr(p.get()));
    // Packets are waited for with poll, which a signal interrupts.
    if (pcap_setnonblock(p.get(), 1, error) != 0 || pcap_get_selectable_fd(p.get()) < 0)
        fail("cannot capture on " + device + " without blocking: " + error);
    return p;
}

// Whether `address` is one of this host's own, loopback or zero: traffic
// "from" it is this host's, which a device record must not be able to
// point a root-run capture at.
bool is_own_address(std::uint32_t address) {
    const std::uint8_t first = reinterpret_cast<const std::uint8_t*>(&address)[0];
    if (address == 0 || first == 127) return true;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool own = false;
    for (ifaddrs* i = list; i && !own; i = i->ifa_next)
        own = i->ifa_addr && i->ifa_addr->sa_family == AF_INET &&
              reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == address;
    freeifaddrs(list);
    return own;
}

// Like tcpdump: once the capture is open, a capture started with sudo goes
// on as the user who ran sudo, and the recording is theirs.
void drop_to_invoking_user() {
    const char* uid_text = std::getenv("SUDO_UID");
    const char* gid_text = std::getenv("SUDO_GID");
    if (geteuid() != 0 || !uid_text || !gid_text) return;
    const auto uid = static_cast<uid_t>(std::strtoul(uid_text, nullptr, 10));
    const auto gid = static_cast<gid_t>(std::strtoul(gid_text, nullptr, 10));
    if (uid == 0) return;
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
        fail("cannot change to the user who ran sudo (uid " + std::string(uid_text) + "): " + std::strerror(errno));
}

// Discovery requests and replies only: what tells the sensor's real
// address before anything else is recorded.
const char* const discovery_filter = "udp and port 50011";

// The sensor's discovery exchange and profiles, and its service channel
// when asked. `sensor_address` is where its discovery reply came from.
std::string filter_for(const vorex_device_info_t& info, std::uint32_t sensor_address, bool service) {
    const std::string sensor = dotted(sensor_address);
    const unsigned data_port = info.data_port, service_port = info.service_port;
    // Profiles larger than a frame come in IP fragments; only the first
    // carries the ports, so the sensor's later fragments are taken too.
    std::string f = "(src host " + sensor + " and ip[6:2] & 0x1fff != 0) or (udp and ((dst port " +
                    std::to_string(discovery_port) + ") or (src host " + sensor + " and src port " +
                    std::to_string(discovery_port) + ") or (src host " + sensor + " and dst port " +
                    std::to_string(data_port) + ")";
    if (service) f += " or (host " + sensor + " and port " + std::to_string(service_port) + ")";
    return f + "))";
}

void apply_filter(pcap_t* p, const std::string& text) {
    bpf_program program{};
    if (pcap_compile(p, &program, text.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
        fail("cannot compile the capture filter: " + std::string(pcap_geterr(p)));
    const int set = pcap_setfilter(p, &program);
    pcap_freecode(&program);
    if (set != 0) fail("cannot set the capture filter: " + std::string(pcap_geterr(p)));
}

// Counts what it writes: all packets, and the profile datagrams among
// them (those to the data port), each once its last fragment is in, so a
// recording that stops at a count holds whole profiles.
// Also notes where the chosen sensor's discovery reply came from.
struct recorder {
    pcap_dumper_t* dump;
    int link_type;
    unsigned data_port;
    std::uint32_t serial;
    std::uint64_t packets = 0;
    std::uint64_t profiles = 0;
    std::set<unsigned> fragmented;  // IP identifications of profiles still in pieces
    std::uint32_t reply_source = 0;  // network byte order; 0 until the reply is seen
    bool reply_seen = false;

    static void on_packet(u_char* self, const pcap_pkthdr* h, const u_char* bytes) {
        auto* r = reinterpret_cast<recorder*>(self);
        pcap_dump(reinterpret_cast<u_char*>(r->dump), h, bytes);
        ++r->packets;
        r->count_profile(bytes, h->caplen);
    }

    static constexpr std::size_t not_udp = static_cast<std::size_t>(-1);

    // Where the IPv4 header of a UDP packet starts; not_udp for anything else.
    std::size_t udp_over_ip(const u_char* bytes, bpf_u_int32 length) const {
        std::size_t ip = 0;
        if (link_type == DLT_EN10MB) ip = 14;
        else if (link_type == DLT_LINUX_SLL) ip = 16;
        else if (link_type == DLT_NULL) ip = 4;
        if (length < ip + 20 || (bytes[ip] >> 4) != 4 || bytes[ip + 9] != 17) return not_udp;
        return ip;
    }

    void note_discovery_reply(const u_char* bytes, std::size_t ip, std::size_t udp, bpf_u_int32 length) {
        const std::size_t record = udp + 8 + header_size;
        if ((unsigned(bytes[udp]) << 8 | bytes[udp + 1]) != discovery_port) return;
        if (length < record + sizeof(vorex_device_info_t)) return;
        std::uint32_t claimed;
        std::memcpy(&claimed, bytes + record + offsetof(vorex_device_info_t, serial), 4);  // little-endian, as this host
        if (claimed != serial || reply_seen) return;
        std::memcpy(&reply_source, bytes + ip + 12, 4);
        reply_seen = true;
    }

    void count_profile(const u_char* bytes, bpf_u_int32 length) {
        const std::size_t ip = udp_over_ip(bytes, length);
        if (ip == not_udp) return;
        const unsigned id = unsigned(bytes[ip + 4]) << 8 | bytes[ip + 5];
        const unsigned fragment = unsigned(bytes[ip + 6]) << 8 | bytes[ip + 7];
        const bool more = (fragment & 0x2000) != 0, first = (fragment & 0x1FFF) == 0;
        if (!first) {
            if (!more && fragmented.erase(id) > 0) ++profiles;
            return;
        }
        const std::size_t udp = ip + 4u * (bytes[ip] & 0x0F);
        if (length < udp + 8) return;
        note_discovery_reply(bytes, ip, udp, length);
        if ((unsigned(bytes[udp + 2]) << 8 | bytes[udp + 3]) != data_port) return;
        if (more) fragmented.insert(id);
        else ++profiles;
    }
};

// Writes the packets waiting in the capture, at most `most` (-1: all).
void write_waiting(pcap_t* p, recorder& r, int most, const std::string& device) {
    if (pcap_dispatch(p, most, &recorder::on_packet, reinterpret_cast<u_char*>(&r)) < 0)
        fail("capture on " + device + " failed: " + pcap_geterr(p));
}

// Waits up to capture_timeout_ms, or until a signal, for packets and
// writes at most `most` of those that came.
void capture_some(pcap_t* p, recorder& r, int most, const std::string& device) {
    pollfd ready{pcap_get_selectable_fd(p), POLLIN, 0};
    if (poll(&ready, 1, capture_timeout_ms) > 0) write_waiting(p, r, most, device);
}

// Takes what the capture holds until the sensor's discovery reply is among
// it, for up to reply_wait_ms or a stop: a capture that sees nothing must
// not block.
void take_discovery_reply(pcap_t* p, recorder& r, const std::string& device) {
    const auto until = clock::now() + std::chrono::milliseconds(reply_wait_ms);
    while (!r.reply_seen && !interrupted && clock::now() < until) capture_some(p, r, -1, device);
}

void run_record(const record_options& o) {
    if (o.duration > 0 && o.count > 0) usage_error("give --duration or --count, not both");
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve(), false);
    const vorex_device_info_t info = sensor->info();
    const std::string device = o.interface_name.empty() ? interface_for(info.ip_address) : o.interface_name;
    capture_handle capture = open_capture(device);
    apply_filter(capture.get(), discovery_filter);
    drop_to_invoking_user();
    // The capture holds the service channel when asked: for the owner only.
    std::FILE* file = create_file(o.out, file_access::owner_only);
    if (!file) fail(create_error(o.out));
    dump_handle dump(pcap_dump_fopen(capture.get(), file));
    if (!dump) {
        std::fclose(file);
        fail("cannot write " + o.out + ": " + pcap_geterr(capture.get()));
    }
    recorder r{dump.get(), pcap_datalink(capture.get()), info.data_port, info.serial, 0, 0, {}, 0, false};
    stop_signals signals;

    // A second search while capturing puts the sensor's discovery reply,
    // and with it the device record, at the head of the recording, and
    // tells where the sensor really is.
    vorex::search();
    take_discovery_reply(capture.get(), r, device);
    // A stop before the reply came ends the recording with what it holds.
    if (!r.reply_seen && !interrupted)
        fail("the discovery reply of sensor " + std::to_string(info.serial) + " did not come in on " + device +
             "; name the interface it comes in on with --interface");
    if (r.reply_seen) {
        if (o.interface_name.empty() && is_own_address(r.reply_source))
            fail("sensor " + std::to_string(info.serial) + " answers from " + dotted(r.reply_source) +
                 ", this host's own or no address; name the interface with --interface to record it all the same");
        apply_filter(capture.get(), filter_for(info, r.reply_source, o.service));
    }

    std::fprintf(stderr, "recording sensor %u on %s into %s (Ctrl-C stops)\n", static_cast<unsigned>(info.serial),
                 device.c_str(), o.out.c_str());
    const auto start = clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(clock::now() - start).count(); };
    const bool counting = o.count > 0;
    while (!interrupted && (!counting || r.profiles < o.count) && (o.duration <= 0 || elapsed() < o.duration))
        capture_some(capture.get(), r, counting ? 1 : -1, device);
    // What the kernel captured before the stop goes into the file too.
    if (!counting || r.profiles < o.count) write_waiting(capture.get(), r, -1, device);
    pcap_stat stats{};
    const bool have_stats = pcap_stats(capture.get(), &stats) == 0;
    if (pcap_dump_flush(dump.get()) != 0) fail("cannot write " + o.out);
    dump.reset();
    std::printf("%s: %llu packets (%llu profiles) from sensor %u on %s", o.out.c_str(),
                static_cast<unsigned long long>(r.packets), static_cast<unsigned long long>(r.profiles),
                static_cast<unsigned>(info.serial), device.c_str());
    if (have_stats) std::printf(", %u dropped by the kernel", stats.ps_drop);
    std::printf("\n");
}

}  // namespace

void add_record_command(CLI::App& app, command_registry& registry) {
    auto record = std::make_shared<record_options>();
    CLI::App* r = app.add_subcommand("record", "Record the sensor's traffic into a pcap file (needs capture privilege)");
    add_selector_options(*r, record->sensor);
    r->add_option("--out", record->out, "The recording: NAME.pcap")->required();
    r->add_option("--duration", record->duration, "Stop after this many seconds (0: until Ctrl-C)")
        ->check(non_negative_number());
    r->add_option("--count", record->count, "Stop after this many profiles (0: until Ctrl-C)")
        ->check(non_negative_count());
    r->add_flag("--service", record->service, "Also record the service channel (parameters, image, firmware, log)");
    r->add_option("--interface", record->interface_name, "Capture on this interface instead of the one that reaches the sensor");
    registry.add(r, [record] { run_record(*record); });
}

}  // namespace vorexctl
