#include "session.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "failure_text.h"
#include "files.h"
#include "format.h"
#include "udp_table.h"

namespace vorexctl {

void fail(const std::string& message) { throw command_error(exit_failed, message); }
void usage_error(const std::string& message) { throw command_error(exit_usage, message); }

void operation_failed(vorex& sensor, const std::string& operation) {
    fail(operation + " failed: " + failure_reason(operation, sensor.error_msg()));
}

selector selector_options::resolve() const {
    selector s;
    if (serial_given && serial_given->count() > 0) s.serial = serial;
    if (!ip.empty()) {
        std::uint32_t address;
        if (!parse_dotted(ip, &address)) usage_error("--ip: not a dotted IPv4 address: " + ip);
        s.ip = address;
    }
    if (!mac.empty()) {
        mac_address m;
        if (!parse_mac(mac, &m)) usage_error("--mac: not a MAC address such as 02:56:58:00:00:01: " + mac);
        s.mac = m;
    }
    return s;
}

void add_selector_options(CLI::App& command, selector_options& options) {
    const CLI::Validator dotted_address(
        [](std::string& text) {
            std::uint32_t address;
            return parse_dotted(text, &address) ? std::string() : "not a dotted IPv4 address: " + text;
        },
        "A.B.C.D");
    const CLI::Validator mac(
        [](std::string& text) {
            mac_address m;
            return parse_mac(text, &m) ? std::string() : "not a MAC address: " + text;
        },
        "MAC");
    options.serial_given =
        command.add_option("--serial", options.serial, "Choose the sensor with this serial number")->group("Sensor");
    command.add_option("--ip", options.ip, "Choose the sensor at this IPv4 address")->check(dotted_address)->group("Sensor");
    command.add_option("--mac", options.mac, "Choose the sensor with this MAC address (02:56:58:00:00:01)")
        ->check(mac)
        ->group("Sensor");
}

library_scope::library_scope() {
    if (!vorex::init()) {
        vorex::cleanup();
        fail("the library could not start the socket layer");
    }
}

library_scope::~library_scope() { vorex::cleanup(); }

namespace {

// A data port that another program holds is the usual reason connect
// fails (a second vorexctl view or stream); name the port and its holder.
[[noreturn]] void connect_failed(vorex& sensor) {
    const std::string text = sensor.error_msg();
    const std::uint16_t port = sensor.info().data_port;
    const std::string holder = text == "Failed to bind data socket" ? port_holder(port) : "";
    if (holder.empty()) operation_failed(sensor, "connect");
    fail("connect failed: UDP port " + std::to_string(port) + " (the sensor's data port) is held by " + holder);
}

}  // namespace

std::shared_ptr<vorex> open_sensor(const selector& wanted, bool connect) {
    // A sensor busy for longer than the search's 100 ms window misses one
    // round; asking again costs little next to a command that fails.
    constexpr int search_rounds = 3;
    std::vector<std::shared_ptr<vorex>> found;
    selection chosen;
    for (int round = 0; round < search_rounds && chosen.index < 0; ++round) {
        found = vorex::search();
        std::vector<vorex_device_info_t> records;
        for (const auto& s : found) records.push_back(s->info());
        chosen = select_sensor(records, wanted);
    }
    if (chosen.index < 0) fail(chosen.error);
    std::shared_ptr<vorex> sensor = found[static_cast<std::size_t>(chosen.index)];
    if (connect && !sensor->connect()) connect_failed(*sensor);
    return sensor;
}

std::function<void()> command_registry::chosen() const {
    for (const auto& [command, run] : entries_)
        if (command->parsed()) return run;
    return {};
}

bool is_terminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

live_line::live_line(std::chrono::milliseconds period, at_end end)
    : live_(is_terminal(stderr)), period_(period), end_(end) {}

live_line::~live_line() {
    if (end_ == at_end::clear) clear();
    else if (drawn_) std::fputs("\n", stderr);
}

void live_line::show(const std::string& text, bool now) {
    const auto t = std::chrono::steady_clock::now();
    if (!live_ || (!now && t - last_ < period_)) return;
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    last_ = t;
    drawn_ = true;
}

void live_line::clear() {
    if (drawn_) std::fputs("\r\x1b[K", stderr);
    drawn_ = false;
}

output_file::output_file(const std::string& path)
    : name_(path.empty() || path == "-" ? "standard output" : path),
      file_(path.empty() || path == "-" ? stdout : create_file(path)) {
    if (!file_) fail(create_error(path));
}

output_file::~output_file() {
    if (file_ && file_ != stdout) std::fclose(file_);
}

void output_file::write(const void* data, std::size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, file_) != size) fail("cannot write " + name_ + ": " + std::strerror(errno));
}

void output_file::finish() {
    std::FILE* f = file_;
    if (f != stdout) file_ = nullptr;
    const bool written = std::fflush(f) == 0 && !std::ferror(f);
    const bool closed = f == stdout || std::fclose(f) == 0;
    if (!written || !closed) fail("cannot write " + name_ + ": " + std::strerror(errno));
}

std::string read_input(const std::string& path) {
    const bool standard_input = path == "-";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> owned(standard_input ? nullptr : std::fopen(path.c_str(), "rb"),
                                                          &std::fclose);
    std::FILE* f = standard_input ? stdin : owned.get();
    // An input the command cannot use is the user's to mend, as a usage
    // error is.
    if (!f) usage_error("cannot read " + path + ": " + std::strerror(errno));
    std::string contents;
    char block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) contents.append(block, n);
    if (std::ferror(f)) usage_error("cannot read " + path + ": " + std::strerror(errno));
    return contents;
}

}  // namespace vorexctl
