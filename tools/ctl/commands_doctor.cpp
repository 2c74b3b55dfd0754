// doctor: what makes this host lose or miss a sensor's data, one line per
// check with how to mend it.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "commands.h"
#include "doctor_checks.h"
#include "option_checks.h"
#include "udp_table.h"

namespace vorexctl {

namespace {

struct doctor_options {
    selector_options sensor;
    double rate = 20000;
};

long read_number(const char* path) {
    std::ifstream in(path);
    long value = -1;
    in >> value;
    return value;
}

// Whether this process may pass over net.core.rmem_max (CAP_NET_ADMIN),
// as the library then does.
bool may_force_buffer() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("CapEff:", 0) == 0) return (std::strtoull(line.c_str() + 7, nullptr, 16) >> 12) & 1;
    return false;
}

std::vector<std::uint32_t> host_addresses() {
    std::vector<std::uint32_t> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i; i = i->ifa_next)
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_UP) && (i->ifa_flags & IFF_RUNNING))
            out.push_back(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    freeifaddrs(list);
    return out;
}

// The output of a command, or "" when it cannot run.
std::string output_of(const std::string& command) {
    std::string text;
    if (std::FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
        char block[4096];
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, p)) > 0;) text.append(block, n);
        pclose(p);
    }
    return text;
}

bool on_path(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

check_result check_port_holders(std::uint16_t port) {
    const std::string holder = port_holder(port);
    if (!holder.empty())
        return {false, "data port",
                "UDP port " + std::to_string(port) + " is already held by " + holder +
                    "; the profiles reach only one of the two",
                "stop that program, or give the sensor another data port"};
    return {true, "data port", "UDP port " + std::to_string(port) + " is free", ""};
}

check_result check_firewall(const std::vector<std::uint16_t>& ports) {
    std::string tools;
    for (const char* tool : {"nft", "iptables"}) {
        if (!on_path(tool)) continue;
        tools += tools.empty() ? tool : std::string(" and ") + tool;
        const std::string rule =
            dropping_rule(output_of(std::string(tool) + (tool[0] == 'n' ? " list ruleset" : " -S")), ports);
        if (!rule.empty())
            return {false, "firewall", std::string(tool) + " drops the sensor's traffic: " + rule,
                    "accept UDP to ports " + std::to_string(ports[0]) + " and " + std::to_string(ports[1]) +
                        " before that rule"};
    }
    return {true, "firewall", tools.empty() ? "neither nft nor iptables is installed; nothing to check"
                                             : "no rule of " + tools + " drops the sensor's ports",
            ""};
}

check_result check_profiles(vorex& sensor) {
    if (!sensor.connect()) return {false, "profiles", std::string("connect failed: ") + sensor.error_msg(), "see the checks above"};
    vorex_profile profile;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < until)
        if (sensor.get_result(profile))
            return {true, "profiles", "a profile of type " + std::to_string(profile.header.data_type) + " arrived", ""};
    return {false, "profiles", "no profile within 1 s of connecting",
            "make the sensor stream to this host's data port (its stream parameters), and see the checks above"};
}

void run_doctor(const doctor_options& o) {
    library_scope library;
    const auto sensor = open_sensor(o.sensor.resolve(), false);
    const vorex_device_info_t info = sensor->info();
    std::vector<check_result> results;
    results.push_back(check_local_address(host_addresses(), info.ip_address, info.subnet_mask));
    results.push_back(check_port_holders(info.data_port));
    results.push_back(check_firewall({info.data_port, info.service_port}));
    results.push_back(check_profiles(*sensor));
    // What the library's data socket got, read once it is open.
    results.insert(results.begin(), check_receive_buffer(own_receive_buffer_on_port(info.data_port),
                                                         read_number("/proc/sys/net/core/rmem_max"),
                                                         may_force_buffer(), o.rate));
    int failed = 0;
    for (const check_result& r : results) {
        std::printf("%s\n", check_line(r).c_str());
        failed += !r.ok;
    }
    std::fflush(stdout);
    if (failed) fail(std::to_string(failed) + " of " + std::to_string(results.size()) + " checks failed");
}

}  // namespace

void add_doctor_command(CLI::App& app, command_registry& registry) {
    auto doctor = std::make_shared<doctor_options>();
    CLI::App* d = app.add_subcommand("doctor", "Check what would make this host lose or miss the sensor's data");
    add_selector_options(*d, doctor->sensor);
    d->add_option("--rate", doctor->rate, "Profiles per second the sensor is expected to send")
        ->check(positive_number())
        ->capture_default_str();
    registry.add(d, [doctor] { run_doctor(*doctor); });
}

}  // namespace vorexctl
