// vorex-sim: plays one or more network laser profile sensors on real UDP
// sockets, for demos and for trying the library without hardware.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "core/state.h"
#include "ctl/option_checks.h"
#include "sim/replay.h"
#include "sim/sensor_sim.h"

namespace {

std::atomic<bool> stopping{false};
void on_signal(int) { stopping = true; }

bool parse_address(const std::string& text, std::uint32_t* out) { return vorex_core::parse_dotted(text.c_str(), out); }

std::string dotted(std::uint32_t a) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&a);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

// A command line that cannot run: "vorex-sim: <why>", exit status 2.
int usage_error(const std::string& message) {
    std::fprintf(stderr, "vorex-sim: %s\n", message.c_str());
    return 2;
}

std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// The next address in network byte order.
std::uint32_t next_address(std::uint32_t a) {
    auto* b = reinterpret_cast<std::uint8_t*>(&a);
    for (int i = 3; i >= 0 && ++b[i] == 0; --i) {}
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vorex-sim: simulated network laser profile sensors on real UDP sockets.\n"
                 "Answers discovery on UDP port 50011 (broadcast), the service protocol on each sensor's\n"
                 "service port, and streams profiles to the host's data port. Run it in a private network\n"
                 "namespace when it answers discovery: discovery uses broadcasts."};
    int count = 1;
    std::string ip = "127.0.0.1", mask = "255.0.0.0", state_dir, stream_to;
    std::uint32_t serial = 1001;
    int data_port = 50020, service_port = 50030, image_packet_size = 1400, data_type = 19, commit_delay_ms = 3000;
    double rate = 200.0;
    bool no_discovery = false, no_stream = false, loop = false;
    std::string replay_file;
    double speed = 1.0;
    std::string faults;
    using vorexctl::number_range;
    using vorexctl::whole_range;
    app.set_version_flag("--version", std::string("vorex-sim ") + VOREX_PACKAGE_VERSION);
    app.add_option("-n,--sensors", count, "Number of simulated sensors")->check(whole_range("1..16", 1, 16));
    CLI::Option* ip_given = app.add_option("--ip", ip, "Address of the first sensor (the others follow it); must be local")->capture_default_str();
    app.add_option("--mask", mask, "Subnet mask the sensors report")->capture_default_str();
    app.add_option("--serial", serial, "Serial of the first sensor (the others follow it)")
        ->check(whole_range("0..4294967295", 0, 4294967295.0))
        ->capture_default_str();
    CLI::Option* service_port_given =
        app.add_option("--service-port", service_port, "Service port of the first sensor (0: any free port)")
            ->check(whole_range("0..65535", 0, 65535))
            ->capture_default_str();
    app.add_option("--data-port", data_port, "Host port profiles go to (each further sensor +1)")
        ->check(whole_range("1..65535", 1, 65535))
        ->capture_default_str();
    app.add_option("--image-packet-size", image_packet_size, "Image bytes per datagram (0: 32754)")
        ->check(whole_range("0..65489", 0, 65489))
        ->capture_default_str();
    app.add_option("--state", state_dir, "Directory where flushed parameters persist across restarts")
        ->check(CLI::ExistingDirectory);
    app.add_option("--data-type", data_type, "Profile data type 16..19")->check(whole_range("16..19", 16, 19))->capture_default_str();
    app.add_option("--rate", rate, "Profiles per second per sensor")
        ->check(number_range("0.1..100000", 0.1, 100000.0))
        ->capture_default_str();
    app.add_option("--stream-to", stream_to, "Host address for profiles (default: the host that searched or spoke)");
    app.add_option("--commit-delay", commit_delay_ms, "Milliseconds a firmware commit takes")
        ->check(whole_range("0..3600000", 0, 3600000))
        ->capture_default_str();
    app.add_flag("--no-discovery", no_discovery, "Do not answer discovery on port 50011");
    app.add_flag("--no-stream", no_stream, "Do not stream profiles");
    app.add_option("--replay", replay_file, "Stream the profiles of this pcap recording (one sensor, its recorded record)")
        ->check(CLI::ExistingFile);
    CLI::Option* loop_given = app.add_flag("--loop", loop, "With --replay: replay the recording round and round");
    std::string scene = "box";
    app.add_option("--scene", scene, "box: a box swinging across the line beside a pipe; part: a part sliding past "
                                     "the line (a stepped block with an engraved V, a cylinder, a sphere)")
        ->check(CLI::IsMember({"box", "part"}))
        ->capture_default_str();
    CLI::Option* speed_given =
        app.add_option("--speed", speed,
                       "With --replay: replay this many times faster than recorded; with --scene part: the part's "
                       "speed in mm/s (default 100)")
            ->check(vorexctl::positive_number());
    app.add_option("--faults", faults,
                   "Network faults, e.g. drop=0.05,duplicate=0.02,reorder=0.02,delay=20,truncate=0.01,corrupt=0.01,"
                   "other-address=0.05,flood-service=100,flood-data=100,silence=0.01,silence-ms=300,reboot=0.001,"
                   "reboot-ms=200,seed=7 (chances 0..1 per datagram, rates per second, times in ms)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end parsing without an error.
        if (e.get_exit_code() == 0) return app.exit(e);
        return usage_error(one_line(e.what()));
    }

    // Everything the command line says is checked before anything starts.
    const bool part = scene == "part";
    if (replay_file.empty() && loop_given->count() > 0) return usage_error("--loop needs --replay");
    if (replay_file.empty() && !part && speed_given->count() > 0)
        return usage_error("--speed needs --replay or --scene part");
    if (!replay_file.empty() && part) return usage_error("--scene part cannot go with --replay");
    const double part_speed = part ? (speed_given->count() > 0 ? speed : 100.0) : 0.0;
    vorex_sim::device_config c;
    if (!parse_address(ip, &c.ip_address)) return usage_error("--ip: not a dotted IPv4 address: " + ip);
    if (!parse_address(mask, &c.subnet_mask)) return usage_error("--mask: not a dotted IPv4 address: " + mask);
    std::uint32_t fixed_host = 0;
    if (!stream_to.empty() && !parse_address(stream_to, &fixed_host))
        return usage_error("--stream-to: not a dotted IPv4 address: " + stream_to);
    if (data_port + count - 1 > 65535)
        return usage_error("--data-port: " + std::to_string(count) + " sensors from port " + std::to_string(data_port) +
                           " run past 65535");
    if (service_port != 0 && service_port + count - 1 > 65535)
        return usage_error("--service-port: " + std::to_string(count) + " sensors from port " +
                           std::to_string(service_port) + " run past 65535");
    vorex_sim::fault_config fault_setup;
    std::string fault_error;
    if (!vorex_sim::parse_faults(faults, &fault_setup, &fault_error)) return usage_error("--faults: " + fault_error);

    std::optional<vorex_sim::recording> replay;
    if (!replay_file.empty()) {
        try {
            replay = vorex_sim::read_recording(replay_file);
        } catch (const std::exception& e) {
            return usage_error(e.what());
        }
        count = 1;
    }

    std::vector<vorex_sim::device_config> configs;
    c.state_dir = state_dir;
    c.image_packet_size = image_packet_size;
    c.commit_delay = std::chrono::milliseconds(commit_delay_ms);
    for (int i = 0; i < count; ++i) {
        c.serial = serial + static_cast<std::uint32_t>(i);
        c.data_port = static_cast<std::uint16_t>(data_port + i);
        c.service_port = static_cast<std::uint16_t>(service_port == 0 ? 0 : service_port + i);
        c.mac[5] = static_cast<std::uint8_t>(0x10 + i);
        configs.push_back(c);
        c.ip_address = next_address(c.ip_address);
    }
    if (replay && replay->record)
        vorex_sim::adopt_record(*replay->record, configs[0], ip_given->count() > 0, service_port_given->count() > 0);

    std::unique_ptr<vorex_sim::sensor_sim> sim;
    try {
        sim = std::make_unique<vorex_sim::sensor_sim>(configs, !no_discovery);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorex-sim: %s\n", e.what());
        return 1;
    }
    for (std::size_t i = 0; i < sim->size(); ++i) {
        const auto& cfg = sim->device(i).config();
        std::printf("vorex-sim: sensor serial %u at %s:%u, profiles to host port %u\n", cfg.serial,
                    dotted(cfg.ip_address).c_str(), sim->service(i).local().port, cfg.data_port);
    }
    if (fault_setup.any()) sim->set_faults(fault_setup);
    std::fflush(stdout);

    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    bool streaming = no_stream;
    std::thread replayer;
    while (!stopping) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (streaming) continue;
        std::uint32_t host = fixed_host;
        if (!host && sim->discovery()) host = sim->discovery()->last_peer().address;
        if (!host) host = sim->service(0).last_peer().address;
        if (!host) continue;
        if (replay) {
            replayer = std::thread([&, host] {
                const auto sent = vorex_sim::play(*replay, sim->service(0), {host, sim->device(0).config().data_port},
                                                  speed, loop, stopping);
                std::printf("vorex-sim: replayed %llu profiles\n", static_cast<unsigned long long>(sent));
                std::fflush(stdout);
            });
            std::printf("vorex-sim: replaying %zu profiles from %s to %s\n", replay->profiles.size(),
                        replay_file.c_str(), dotted(host).c_str());
        } else {
            for (std::size_t i = 0; i < sim->size(); ++i)
                sim->start_stream(i, {data_type, rate, {host, sim->device(i).config().data_port}, part_speed});
            std::printf("vorex-sim: streaming type %d profiles at %.0f/s to %s", data_type, rate, dotted(host).c_str());
            if (part) std::printf(", the part moving at %g mm/s", part_speed);
            std::printf("\n");
        }
        std::fflush(stdout);
        streaming = true;
    }
    if (replayer.joinable()) replayer.join();
    if (fault_setup.any()) std::printf("vorex-sim: faults injected: %s\n", sim->fault_totals().summary().c_str());
    return 0;
}
