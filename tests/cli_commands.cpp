// The built vorexctl program run as a subprocess against the simulated
// sensor. Each case enters a private network namespace of its own before
// it starts the program, which inherits it: the program's discovery
// broadcasts never leave it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <png.h>
#include <tiffio.h>

#include "format.h"
#include "hexdump.h"
#include "sim/profile_scene.h"
#include "support/test_support.h"

extern char** environ;

namespace vorex_test {
namespace {

using vorex_sim::device_config;
using vorex_sim::sensor_sim;

// The host reaches the sensors' subnet 198.18.1.0/24 through v1; v0 is a
// second adapter in another subnet, whose broadcasts no sensor answers.
const std::vector<std::string> sensor_network = {
    "ip link set lo up",
    "ip link add v0 type veth peer name v1",
    "ip addr add 198.18.0.1/24 brd + dev v0",
    "ip addr add 198.18.1.1/24 brd + dev v1",
    "ip addr add 198.18.1.2/24 brd + dev v1",
    "ip link set v0 up",
    "ip link set v1 up",
};

constexpr auto program_limit = std::chrono::seconds(60);

struct run_result {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put_file(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class spawn_actions {
public:
    spawn_actions() { posix_spawn_file_actions_init(&actions_); }
    ~spawn_actions() { posix_spawn_file_actions_destroy(&actions_); }
    spawn_actions(const spawn_actions&) = delete;
    spawn_actions& operator=(const spawn_actions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

// The controlling side of a pseudo-terminal; the program opens the other
// side by name.
struct terminal_side {
    int master = -1;
    std::string name;

    bool open() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
        name = ptsname(master);
        return true;
    }
    // Appends what the program wrote so far.
    void drain(std::string& screen) const {
        if (master < 0) return;
        char block[4096];
        for (ssize_t n; (n = read(master, block, sizeof block)) > 0;) screen.append(block, static_cast<std::size_t>(n));
    }
    ~terminal_side() {
        if (master >= 0) close(master);
    }
};

device_config sensor(std::uint32_t serial, const char* ip, std::uint8_t mac_last, std::uint16_t data_port) {
    device_config c;
    c.serial = serial;
    c.ip_address = ipv4(ip);
    c.subnet_mask = ipv4("255.255.255.0");
    c.data_port = data_port;
    c.mac[5] = mac_last;
    c.commit_delay = std::chrono::milliseconds(50);
    return c;
}

class cli_test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(enter_private_network(sensor_network));
        ASSERT_TRUE(wait_for_adapters(4));
        char pattern[] = "/tmp/vorexctl-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        sim.reset();
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }

    // One sensor, serial 1001 at 198.18.1.1, profiles to host port 50020.
    void start_sensor() { start_sensors({sensor(1001, "198.18.1.1", 0x01, 50020)}); }
    void start_sensors(std::vector<device_config> configs) {
        for (auto& c : configs) c.state_dir = dir;
        sim = std::make_unique<sensor_sim>(configs, true);
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    // Runs vorexctl with `args`, standard input from `input`, and waits for
    // it (a minute at most: a program that hangs is killed and fails). With
    // `terminal`, its standard error is a pseudo-terminal, where the
    // program draws its live lines.
    run_result run(const std::vector<std::string>& args, const std::string& input = "", bool terminal = false) {
        return run_program(VOREXCTL_PROGRAM, args, input, terminal);
    }
    run_result run_program(const std::string& program, const std::vector<std::string>& args,
                           const std::string& input = "", bool terminal = false) {
        put_file(path("stdin"), input);
        terminal_side tty;
        if (terminal && !tty.open()) {
            ADD_FAILURE() << "no pseudo-terminal";
            return {};
        }
        spawn_actions actions;
        posix_spawn_file_actions_addopen(actions.get(), 0, path("stdin").c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(actions.get(), 1, path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (terminal)
            posix_spawn_file_actions_addopen(actions.get(), 2, tty.name.c_str(), O_WRONLY | O_NOCTTY, 0);
        else
            posix_spawn_file_actions_addopen(actions.get(), 2, path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        run_result r;
        const pid_t pid = spawn(program, args, actions);
        if (pid <= 0) return r;
        int status = 0;
        const auto give_up = std::chrono::steady_clock::now() + program_limit;
        std::string screen;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            tty.drain(screen);
            if (std::chrono::steady_clock::now() > give_up) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ADD_FAILURE() << "vorexctl did not finish within a minute";
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        tty.drain(screen);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = file_text(path("stdout"));
        r.err = terminal ? screen : file_text(path("stderr"));
        return r;
    }

    // Starts `program` with `args` and the files `actions` opens; 0 when it
    // could not start.
    static pid_t spawn(const std::string& program, const std::vector<std::string>& args, spawn_actions& actions) {
        std::vector<std::string> words = {program};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ) != 0) {
            ADD_FAILURE() << "cannot start " << program;
            return 0;
        }
        return pid;
    }

    // An operation that failed or a usage error: one line on stderr.
    static void expect_one_line_error(const run_result& r, int status, const std::string& line) {
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_EQ(r.err, "vorexctl: " + line + "\n");
    }

    std::string dir;
    std::unique_ptr<sensor_sim> sim;
};

// --- search and selection -----------------------------------------------------

TEST_F(cli_test, search_lists_the_sensor_as_a_table_and_as_json) {
    start_sensor();
    const std::string service_port = std::to_string(sim->service(0).local().port);
    const run_result table = run({"search"});
    ASSERT_EQ(table.status, 0) << table.err;
    const auto rows = lines_of(table.out);
    ASSERT_EQ(rows.size(), 2u) << table.out;
    EXPECT_EQ(rows[0].substr(0, 6), "SERIAL");
    std::istringstream row(rows[1]);
    std::vector<std::string> cells{std::istream_iterator<std::string>(row), std::istream_iterator<std::string>()};
    EXPECT_EQ(cells, (std::vector<std::string>{"1001", "198.18.1.1", "255.255.255.0", "02:56:58:00:00:01",
                                               service_port, "50020", "1400"}));

    const run_result json = run({"search", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, "[{\"serial\":1001,\"ip\":\"198.18.1.1\",\"mask\":\"255.255.255.0\",\"mac\":\"02:56:58:00:00:01\","
                        "\"service_port\":" + service_port + ",\"data_port\":50020,\"image_packet_size\":1400}]\n");
    EXPECT_EQ(json.err, "");
}

TEST_F(cli_test, several_sensors_need_a_choice_by_serial_ip_or_mac) {
    start_sensors({sensor(1001, "198.18.1.1", 0x01, 50020), sensor(1002, "198.18.1.2", 0x02, 50021)});
    expect_one_line_error(run({"info"}), 1,
                          "2 found (1001 at 198.18.1.1, 1002 at 198.18.1.2); choose one with --serial, --ip or --mac");
    const struct {
        std::vector<std::string> args;
        const char* ip;
    } choices[] = {
        {{"info", "--serial", "1002"}, "198.18.1.2"},
        {{"info", "--ip", "198.18.1.1"}, "198.18.1.1"},
        {{"info", "--mac", "02:56:58:00:00:02"}, "198.18.1.2"},
    };
    for (const auto& c : choices) {
        const run_result r = run(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(std::string("ip:                ") + c.ip + "\n"), std::string::npos) << r.out;
    }
    expect_one_line_error(run({"info", "--serial", "7"}), 1, "no sensor with serial 7 (2 found)");
    // A command that talks to the chosen sensor really reaches that one.
    const run_result sysmon = run({"params", "get", "--serial", "1002", "--group", "sysmon", "--hex"});
    ASSERT_EQ(sysmon.status, 0) << sysmon.err;
    EXPECT_FALSE(sim->service(1).wire().empty());
    EXPECT_TRUE(sim->service(0).wire().empty());
}

TEST_F(cli_test, no_sensor_is_an_empty_search_and_a_failed_command) {
    const run_result search = run({"search"});
    EXPECT_EQ(search.status, 0);
    EXPECT_EQ(lines_of(search.out).size(), 1u) << "the heading alone";
    EXPECT_EQ(search.err, "no sensor found\n");
    EXPECT_EQ(run({"search", "--json"}).out, "[]\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"info"}, {"params", "get", "--hex"},
                                                 {"image", "--out", "x.png"}, {"log"}})
        expect_one_line_error(run(args), 1, "no sensor found");
}

// --- exit status and usage --------------------------------------------------------

// Both programs check their whole command line before they search or
// bind anything, and say what is wrong in one line behind their name.
TEST_F(cli_test, bad_usage_exits_with_2_and_one_line_before_any_search) {
    start_sensor();
    put_file(path("short.bin"), std::string(81, '\0'));
    put_file(path("empty.bin"), "");
    const std::string ctl = VOREXCTL_PROGRAM, sim_program = VOREX_SIM_PROGRAM;
    const struct {
        const std::string& program;
        std::vector<std::string> args;
        std::string error;  // empty: any one line
    } cases[] = {
        {ctl, {}, "choose a command: search, info, stream, plot, image, scan, params, reboot, firmware, log, view, record, doctor"},
        {ctl, {"bogus"}, "The following argument was not expected: bogus"},
        {ctl, {"params"}, "params: choose one of get, set, flush"},
        {ctl, {"params", "reset"}, "The following argument was not expected: reset"},
        {ctl, {"firmware", "upload"}, "FILE is required"},
        {ctl, {"firmware", "upload", path("empty.bin")}, path("empty.bin") + " is empty: there is no firmware to upload"},
        {ctl, {"firmware", "upload", dir}, "FILE: File is actually a directory: " + dir},
        {ctl, {"firmware", "upload", path("missing.bin")}, ""},
        {ctl, {"stream", "--format", "xml"}, "--format: xml not in {csv,json}"},
        {ctl, {"stream", "--count", "many"}, "--count: must be a whole number of 0 or more, not many"},
        {ctl, {"stream", "--count", "-1"}, "--count: must be a whole number of 0 or more, not -1"},
        {ctl, {"stream", "--duration", "-0.5"}, "--duration: must be a number of 0 or more, not -0.5"},
        {ctl, {"stream", "--idle", "0"}, "--idle: must be a number more than 0, not 0"},
        {ctl, {"record", "--out", "x.pcap", "--count", "-1"}, "--count: must be a whole number of 0 or more, not -1"},
        {ctl, {"record", "--out", "x.pcap", "--duration", "1e999"}, "--duration: must be a number of 0 or more, not 1e999"},
        {ctl, {"log", "--from", "-1"}, "--from: must be a whole number of 0 or more, not -1"},
        {ctl, {"doctor", "--rate", "-3"}, "--rate: must be a number more than 0, not -3"},
        {ctl, {"plot", "--out", "plot.txt"}, "--out must name a .svg or .png file: plot.txt"},
        {ctl, {"image", "--out", "image.jpg"}, "--out must name a .png or .pgm file: image.jpg"},
        {ctl, {"image"}, "--out is required"},
        {ctl, {"scan", "--out", "part.tiff"}, "give --count or --duration"},
        {ctl, {"scan", "--count", "9", "--out", "part.jpg"}, "--out must name a .tiff, .png, .ply, .pcd or .csv file: part.jpg"},
        {ctl, {"scan", "--count", "9", "--gray16", "--out", "part.tiff"}, "--gray16 needs a .png file"},
        {ctl, {"scan", "--count", "9", "--metres", "--out", "part.png"}, "--metres needs a .ply, .pcd or .csv file"},
        {ctl, {"scan", "--count", "0", "--out", "part.png"}, "--count: must be a whole number of 1 or more, not 0"},
        {ctl, {"scan", "--count", "9", "--x-step", "0", "--out", "part.png"}, "--x-step: must be a number more than 0, not 0"},
        {ctl, {"scan", "--count", "9", "--pitch", "1", "--speed", "2", "--out", "part.png"}, ""},
        {ctl, {"scan", "--count", "9", "--duration", "2", "--out", "part.png"}, ""},
        {ctl, {"info", "--ip", "198.18.1"}, "--ip: not a dotted IPv4 address: 198.18.1"},
        {ctl, {"info", "--mac", "02:56"}, "--mac: not a MAC address: 02:56"},
        {ctl, {"params", "get", "--group", "nosuch"}, ""},
        {ctl, {"params", "set", "--group", "sysmon", "--in", path("short.bin")},
         path("short.bin") + " holds 81 bytes; the sysmon group takes 82"},
        {ctl, {"params", "set", "--in", path("missing.bin")}, "cannot read " + path("missing.bin") + ": No such file or directory"},
        {sim_program, {"--data-port", "70000"}, "--data-port: must be a whole number from 1 to 65535, not 70000"},
        {sim_program, {"--service-port", "-1"}, "--service-port: must be a whole number from 0 to 65535, not -1"},
        {sim_program, {"-n", "2", "--data-port", "65535"}, "--data-port: 2 sensors from port 65535 run past 65535"},
        {sim_program, {"--faults", "drop=2"}, "--faults: fault 'drop' is a chance from 0 to 1, not 2"},
        {sim_program, {"--faults", "drop=0.1,bogus=1"}, "--faults: unknown fault 'bogus'"},
        {sim_program, {"--speed", "2"}, "--speed needs --replay or --scene part"},
        {sim_program, {"--scene", "part", "--speed", "0"}, "--speed: must be a number more than 0, not 0"},
        {sim_program, {"--loop"}, "--loop needs --replay"},
        {sim_program, {"--rate", "0"}, "--rate: must be a number from 0.1 to 100000, not 0"},
        {sim_program, {"--replay", path("short.bin")}, ""},
        {sim_program, {"--bogus"}, "The following argument was not expected: --bogus"},
    };
    for (const auto& c : cases) {
        const std::string name = std::filesystem::path(c.program).filename().string();
        const run_result r = run_program(c.program, c.args);
        SCOPED_TRACE(name + (c.args.empty() ? "" : " " + c.args[0]) + (c.args.size() > 1 ? " " + c.args[1] : ""));
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.out, "") << "nothing started";
        ASSERT_EQ(lines_of(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.err.substr(0, name.size() + 2), name + ": ");
        if (!c.error.empty()) {
            EXPECT_EQ(r.err, name + ": " + c.error + "\n");
        }
    }
    EXPECT_TRUE(sim->service(0).wire().empty()) << "usage errors are found before the sensor is contacted";
    EXPECT_EQ(sim->discovery()->wire_size(), 0u);

    const run_result help = run({"stream", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--duration"), std::string::npos);
    EXPECT_NE(help.out.find("(0: no limit)"), std::string::npos) << "what 0 means is said";
}

// A sensor that answers discovery but nothing on its service port: each
// command fails with exit status 1 and says what the silence means, and
// an image that never started is not written.
TEST_F(cli_test, a_silent_sensor_is_a_failed_operation_that_says_so) {
    start_sensor();
    vorex_sim::fault_config silent;
    silent.silence = 1;
    silent.silence_ms = std::chrono::minutes(10);
    sim->set_faults(silent);
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"params", "get", "--group", "laser", "--hex"}, "read_laser_params failed: no reply from the sensor within 3000 ms"},
        {{"params", "get", "--hex"}, "read_params failed: no reply from the sensor within 100 ms"},
        {{"reboot"}, "reboot failed: no reply from the sensor within 2000 ms"},
        {{"log"}, "read_log_record_count failed: no reply from the sensor within 100 ms"},
        // The library's get_image fails when no datagram of the image came.
        {{"image", "--out", path("image.png")}, "get_image failed: no complete image from the sensor"},
    };
    for (const auto& c : cases) {
        const run_result r = run(c.args);
        SCOPED_TRACE(c.args[0]);
        expect_one_line_error(r, 1, c.error);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(path("image.png")));
}

// Where the library has a message of its own, it is passed on as it is.
TEST_F(cli_test, a_failed_operation_exits_with_1_and_the_library_text) {
    start_sensor();
    put_file(path("fw.bin"), std::string(100, 'x'));
    sim->device(0).set_checksum_fault(true);
    expect_one_line_error(run({"firmware", "upload", path("fw.bin")}), 1, "write_firmware_image failed: CRC does not match");
}

// A data port that another program holds is named with its holder; an
// address the simulator cannot take, with the system's reason.
TEST_F(cli_test, busy_ports_and_foreign_addresses_are_named_with_the_reason) {
    start_sensor();
    vorex_net::handle holder = vorex_net::open_udp();
    ASSERT_TRUE(vorex_net::bind(holder, {0, 50020}));
    const run_result r = run({"stream", "--count", "1"});
    vorex_net::close(holder);
    expect_one_line_error(r, 1, "connect failed: UDP port 50020 (the sensor's data port) is held by process " +
                                    std::to_string(getpid()) + " (cli_commands)");

    const run_result foreign = run_program(VOREX_SIM_PROGRAM, {"--no-discovery", "--ip", "198.18.9.9"});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_EQ(foreign.err, "vorex-sim: cannot bind the simulated sensor's socket to 198.18.9.9:50030: Cannot assign "
                           "requested address\n");
}

// --- params ---------------------------------------------------------------------

std::vector<std::uint8_t> sysmon_of(const vorex_user_params_t& p) {
    return std::vector<std::uint8_t>(p.sysmon.bytes, p.sysmon.bytes + sizeof p.sysmon.bytes);
}

TEST_F(cli_test, params_get_returns_the_sensors_bytes_as_hex_or_binary) {
    start_sensor();
    const vorex_user_params_t block = sim->device(0).parameters();

    const run_result hex = run({"params", "get", "--group", "sysmon", "--hex"});
    ASSERT_EQ(hex.status, 0) << hex.err;
    EXPECT_EQ(lines_of(hex.out).size(), 6u) << "82 bytes, 16 a line";
    std::vector<std::uint8_t> read_back;
    std::string error;
    ASSERT_TRUE(vorexctl::parse_hex_dump(hex.out, &read_back, &error)) << error;
    EXPECT_EQ(read_back, sysmon_of(block));

    const run_result binary = run({"params", "get", "--out", path("block.bin")});
    ASSERT_EQ(binary.status, 0) << binary.err;
    const std::string file = file_text(path("block.bin"));
    ASSERT_EQ(file.size(), sizeof block);
    EXPECT_EQ(std::memcmp(file.data(), &block, sizeof block), 0);
}

TEST_F(cli_test, params_set_writes_a_group_from_a_hex_dump_and_flushes) {
    start_sensor();
    std::vector<std::uint8_t> changed = sysmon_of(sim->device(0).parameters());
    for (std::uint8_t& b : changed) b = static_cast<std::uint8_t>(b ^ 0x5A);
    put_file(path("sysmon.hex"), "# edited\n" + vorexctl::hex_dump(changed.data(), changed.size()));

    const run_result r = run({"params", "set", "--group", "sysmon", "--in", path("sysmon.hex"), "--hex", "--flush"});
    ASSERT_EQ(r.status, 0) << r.err;
    const vorex_user_params_t after = sim->device(0).parameters();
    EXPECT_EQ(sysmon_of(after), changed);
    // The flush made the sensor persist the whole block as it now stands.
    const std::string stored = file_text(path("sensor-1001.params"));
    ASSERT_EQ(stored.size(), sizeof after);
    EXPECT_EQ(std::memcmp(stored.data(), &after, sizeof after), 0);

    // The whole block from standard input, binary.
    std::string block(sizeof(vorex_user_params_t), '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i % 251);
    ASSERT_EQ(run({"params", "set", "--in", "-"}, block).status, 0);
    const vorex_user_params_t whole = sim->device(0).parameters();
    EXPECT_EQ(std::memcmp(block.data(), &whole, sizeof whole), 0);
}

// --- stream, plot and image ---------------------------------------------------------

constexpr std::uint16_t data_port = 50020;

// Sends `datagrams` to the host's data port round and round, one every
// `gap`, from the sensor's address, until destroyed.
class profile_sender {
public:
    profile_sender(std::vector<bytes> datagrams, std::chrono::milliseconds gap)
        : socket_({ipv4("198.18.1.1"), 0}), thread_([this, datagrams, gap] {
              for (std::size_t i = 0; !stop_; ++i) {
                  socket_.send(datagrams[i % datagrams.size()], {ipv4("198.18.1.1"), data_port});
                  std::this_thread::sleep_for(gap);
              }
          }) {}
    ~profile_sender() {
        stop_ = true;
        thread_.join();
    }

private:
    vorex_sim::udp_endpoint socket_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Profile 7 of the simulated scene as type 19, and the points it decodes
// to: one per non-zero Z sample.
const bytes& scene_profile() {
    static const bytes p = vorex_sim::make_profile(19, 7);
    return p;
}
std::vector<vorex_point_t> scene_points() {
    std::vector<vorex_point_t> out;
    const bytes& p = scene_profile();
    for (std::size_t at = 64; at + 4 <= p.size(); at += 4) {
        const std::uint16_t rz = vorex_wire::load_u16_le(&p[at + 2]);
        const auto rx = static_cast<std::int16_t>(vorex_wire::load_u16_le(&p[at]));
        if (rz != 0)
            out.push_back({static_cast<double>(rx) * vorex_sim::scene::pair_x_scale / vorex_sim::scene::pair_divisor,
                           vorex_sim::scene::pair_z_scale * static_cast<double>(rz) / vorex_sim::scene::pair_divisor});
    }
    return out;
}
bytes malformed_profile() {
    bytes p = vorex_sim::make_profile(19, 8);
    p[0] = 15;
    return p;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(cli_test, stream_writes_json_lines_and_counts_malformed_datagrams) {
    start_sensor();
    const std::size_t points = scene_points().size();
    ASSERT_GT(points, 1000u);
    profile_sender sender({scene_profile(), malformed_profile()}, 3ms);
    const run_result r = run({"stream", "--count", "20", "--format", "json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 20u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string head = "{\"profile\":" + std::to_string(i) + ",\"data_type\":19,\"count\":" +
                                 std::to_string(points) + ",\"points\":[[";
        EXPECT_EQ(lines[i].substr(0, head.size()), head);
        EXPECT_EQ(occurrences(lines[i], "],["), points - 1);
        EXPECT_EQ(lines[i].substr(lines[i].size() - 3), "]]}");
    }
    // Every other datagram was malformed: one between each two profiles,
    // and perhaps one before the first.
    unsigned long long malformed = 99, dropped = 99, received = 0;
    double rate = 0, per_profile = 0;
    ASSERT_EQ(std::sscanf(r.err.c_str(), "%lf profiles/s  %lf points/profile  %llu malformed  %llu dropped  (%llu received)",
                          &rate, &per_profile, &malformed, &dropped, &received),
              5)
        << r.err;
    EXPECT_EQ(dropped, 0u) << "a 4 MiB buffer, one profile every 3 ms";
    EXPECT_EQ(received, 20u);
    EXPECT_EQ(per_profile, static_cast<double>(points));
    EXPECT_GE(malformed, 19u);
    EXPECT_LE(malformed, 20u);
}

TEST_F(cli_test, stream_writes_csv_for_a_duration_with_a_live_status_line) {
    start_sensor();
    const auto expected = scene_points();
    profile_sender sender({scene_profile()}, 5ms);
    const run_result r = run({"stream", "--duration", "0.8", "--out", path("points.csv")}, "", true);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GE(occurrences(r.err, "\r"), 2u) << "redrawn in place while streaming: " << r.err;
    EXPECT_NE(r.err.find("profiles/s  " + std::to_string(expected.size()) + " points/profile  0 malformed"),
              std::string::npos)
        << r.err;

    const auto lines = lines_of(file_text(path("points.csv")));
    ASSERT_GT(lines.size(), 1 + expected.size());
    EXPECT_EQ(lines[0], "profile,x,z");
    ASSERT_EQ((lines.size() - 1) % expected.size(), 0u);
    for (std::size_t row = 1; row < lines.size(); row += expected.size()) {
        const std::string profile = std::to_string((row - 1) / expected.size());
        EXPECT_EQ(lines[row], profile + "," + vorexctl::number_text(expected[0].x) + "," +
                                  vorexctl::number_text(expected[0].z));
        const std::size_t last = row + expected.size() - 1;
        EXPECT_EQ(lines[last], profile + "," + vorexctl::number_text(expected.back().x) + "," +
                                   vorexctl::number_text(expected.back().z));
    }
}

TEST_F(cli_test, stream_fails_when_no_profile_comes) {
    start_sensor();
    expect_one_line_error(run({"stream", "--idle", "0.5"}), 1, "no profile for 0.5 s (0 received)");
}

// A PNG file read back: its header fields and its grey pixels.
struct png_file {
    std::uint32_t width = 0, height = 0;
    int bit_depth = 0, colour_type = -1;
    std::vector<std::uint8_t> pixels;
};

png_file read_png(const std::string& path) {
    const std::string file = file_text(path);
    png_file out;
    if (file.size() < 33) {
        ADD_FAILURE() << path << " is not a PNG file";
        return out;
    }
    out.bit_depth = static_cast<std::uint8_t>(file[24]);
    out.colour_type = static_cast<std::uint8_t>(file[25]);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        ADD_FAILURE() << path << ": " << image.message;
        return out;
    }
    out.width = image.width;
    out.height = image.height;
    image.format = PNG_FORMAT_GRAY;
    out.pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) ADD_FAILURE() << image.message;
    png_image_free(&image);
    return out;
}

TEST_F(cli_test, plot_draws_every_point_of_the_profile) {
    start_sensor();
    const std::size_t points = scene_points().size();
    profile_sender sender({scene_profile()}, 5ms);

    const run_result svg = run({"plot", "--out", path("profile.svg")});
    ASSERT_EQ(svg.status, 0) << svg.err;
    EXPECT_EQ(svg.out, path("profile.svg") + ": sensor 1001, profile type 19, " + std::to_string(points) + " points\n");
    const std::string text = file_text(path("profile.svg"));
    EXPECT_EQ(occurrences(text, "<circle "), points);
    EXPECT_NE(text.find(">X (mm)</text>"), std::string::npos);
    EXPECT_NE(text.find(">Z (mm)</text>"), std::string::npos);

    ASSERT_EQ(run({"plot", "--out", path("profile.png")}).status, 0);
    const png_file png = read_png(path("profile.png"));
    EXPECT_EQ(png.width, 800u);
    EXPECT_EQ(png.height, 500u);
    EXPECT_EQ(png.bit_depth, 8);
    EXPECT_EQ(png.colour_type, 0);
    EXPECT_GT(std::count(png.pixels.begin(), png.pixels.end(), std::uint8_t{40}), static_cast<long>(points))
        << "each point is a dark 3 x 3 mark";
}

TEST_F(cli_test, image_is_written_as_648_by_488_grey_png_and_as_pgm) {
    start_sensor();
    const bytes& truth = vorex_sim::synthetic_image();
    auto pixel = [](const std::vector<std::uint8_t>& p, std::size_t x, std::size_t y) { return p[y * 648 + x]; };

    const run_result r = run({"image", "--out", path("image.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("image.png") + ": 648 x 488, 8-bit grey\n");
    const png_file png = read_png(path("image.png"));
    EXPECT_EQ(png.width, 648u);
    EXPECT_EQ(png.height, 488u);
    EXPECT_EQ(png.bit_depth, 8);
    EXPECT_EQ(png.colour_type, 0);
    ASSERT_EQ(png.pixels.size(), truth.size());
    // The scene's landmarks, row 0 at the top: the white marker square at
    // the top-left, the gradient rising to the right, the disc reversing it.
    EXPECT_EQ(pixel(png.pixels, 30, 30), 255);
    EXPECT_EQ(pixel(png.pixels, 0, 400), 0);
    EXPECT_EQ(pixel(png.pixels, 647, 400), 255);
    EXPECT_EQ(pixel(png.pixels, 324, 244), 255 - 324 * 255 / 647);
    EXPECT_EQ(pixel(png.pixels, 30, 460), pixel(truth, 30, 460));
    EXPECT_TRUE(png.pixels == truth) << "every pixel as the simulator made it";

    ASSERT_EQ(run({"image", "--out", path("image.pgm")}).status, 0);
    const std::string pgm = file_text(path("image.pgm"));
    const std::string head = "P5\n648 488\n255\n";
    ASSERT_EQ(pgm.size(), head.size() + truth.size());
    EXPECT_EQ(pgm.substr(0, head.size()), head);
    EXPECT_EQ(std::memcmp(pgm.data() + head.size(), truth.data(), truth.size()), 0);
}

// --- firmware and log -------------------------------------------------------------

std::string firmware_file(const std::string& path, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 256) & 0xFF);
    put_file(path, bytes);
    return bytes;
}

TEST_F(cli_test, firmware_upload_draws_progress_and_reports_the_checksum_verdict) {
    start_sensor();
    firmware_file(path("fw.bin"), 5000);
    const run_result r = run({"firmware", "upload", path("fw.bin")}, "", true);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("checksum verified"), std::string::npos) << r.out;
    // The bar is redrawn in place and ends full, with bytes, rate and ETA.
    EXPECT_NE(r.err.find("\r[########################] 100%  4.9 KiB / 4.9 KiB  "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("/s  ETA 0:00"), std::string::npos) << r.err;
    EXPECT_EQ(sim->device(0).firmware().received, 5000u);
    EXPECT_EQ(sim->device(0).firmware().commits, 0u);

    const run_result commit = run({"firmware", "commit"});
    ASSERT_EQ(commit.status, 0) << commit.err;
    EXPECT_EQ(commit.out, "the sensor reported completion; see `vorexctl log`\n");
    EXPECT_EQ(sim->device(0).firmware().commits, 1u);

    sim->device(0).set_checksum_fault(true);
    expect_one_line_error(run({"firmware", "upload", path("fw.bin"), "--commit"}), 1,
                          "write_firmware_image failed: CRC does not match");
    EXPECT_EQ(sim->device(0).firmware().commits, 1u) << "no commit after a checksum mismatch";
}

// The log read requests on the wire: the index each asked from.
std::vector<std::uint32_t> log_reads(const vorex_sim::udp_endpoint& service) {
    std::vector<std::uint32_t> out;
    for (const auto& d : service.wire())
        if (d.data.size() == 18 && d.data[10] == 0x5E && d.data[11] == 0x17)
            out.push_back(vorex_wire::load_u32_le(d.data.data() + 14));
    return out;
}

vorex_log_record_t record_from_hex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    vorex_log_record_t r{};
    EXPECT_TRUE(vorexctl::parse_hex_dump(hex, &bytes, &error)) << error;
    EXPECT_EQ(bytes.size(), sizeof r.bytes);
    std::memcpy(r.bytes, bytes.data(), std::min(bytes.size(), sizeof r.bytes));
    return r;
}

TEST_F(cli_test, log_prints_the_count_and_every_record_reading_at_most_240_at_a_time) {
    start_sensor();
    for (int i = 0; i < 300; ++i) sim->device(0).log_event(100, "event " + std::to_string(i));
    const std::uint32_t total = sim->device(0).log_size();
    ASSERT_EQ(total, 301u);  // the power-on record, then ours

    const run_result all = run({"log"});
    ASSERT_EQ(all.status, 0) << all.err;
    const auto lines = lines_of(all.out);
    ASSERT_EQ(lines.size(), 1u + total);
    EXPECT_EQ(lines[0], "records: 301");
    for (std::uint32_t i = 1; i < total; ++i) {
        const std::string prefix = std::to_string(i) + ": ";
        ASSERT_EQ(lines[1 + i].substr(0, prefix.size()), prefix);
        const auto entry = vorex_sim::decode_log_record(record_from_hex(lines[1 + i].substr(prefix.size())));
        EXPECT_EQ(entry.text, "event " + std::to_string(i - 1));
        EXPECT_EQ(entry.code, 100);
    }
    EXPECT_EQ(log_reads(sim->service(0)), (std::vector<std::uint32_t>{0, 240}));

    sim->service(0).clear_wire();
    const run_result some = run({"log", "--from", "250", "--count", "3"});
    ASSERT_EQ(some.status, 0) << some.err;
    const auto picked = lines_of(some.out);
    ASSERT_EQ(picked.size(), 4u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(picked[1 + i].substr(0, 5), std::to_string(250 + i) + ": ");
    EXPECT_EQ(log_reads(sim->service(0)), (std::vector<std::uint32_t>{250}));

    const run_result past = run({"log", "--from", "400"});
    EXPECT_EQ(past.status, 0);
    EXPECT_EQ(past.out, "records: 301\n");
}

// --- record ----------------------------------------------------------------------

// The packets in a pcap file (classic format, as libpcap writes it).
std::size_t pcap_packets(const std::string& file) {
    const std::string f = file_text(file);
    std::size_t n = 0;
    for (std::size_t at = 24; at + 16 <= f.size(); ++n) {
        std::uint32_t captured;
        std::memcpy(&captured, f.data() + at + 8, 4);
        at += 16 + captured;
    }
    return n;
}

// With no profile arriving, the first Ctrl-C or SIGTERM ends the recording
// at once, and the discovery exchange captured before it is in the file.
TEST_F(cli_test, record_stops_on_the_first_signal_while_nothing_arrives) {
    start_sensor();
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const std::string out = path("quiet.pcap");
        spawn_actions actions;
        posix_spawn_file_actions_addopen(actions.get(), 1, path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(actions.get(), 2, path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const pid_t pid = spawn(VOREXCTL_PROGRAM, {"record", "--out", out, "--interface", "lo"}, actions);
        ASSERT_GT(pid, 0);
        int status = 0;
        const auto give_up = std::chrono::steady_clock::now() + program_limit;
        while (file_text(path("stderr")).find("(Ctrl-C stops)") == std::string::npos &&
               waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(5ms);
        ASSERT_NE(file_text(path("stderr")).find("(Ctrl-C stops)"), std::string::npos) << file_text(path("stderr"));
        kill(pid, signal);
        // It ends at the signal, not at the next packet: none comes.
        while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(5ms);
        if (std::chrono::steady_clock::now() >= give_up) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            FAIL() << "record did not stop at the signal";
        }
        ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself, unflushed";
        EXPECT_EQ(WEXITSTATUS(status), 0) << file_text(path("stderr"));
        const std::size_t packets = pcap_packets(out);
        EXPECT_GE(packets, 2u) << "the discovery request and reply";
        EXPECT_EQ(file_text(path("stdout")).rfind(out + ": " + std::to_string(packets) + " packets (0 profiles)", 0), 0u)
            << file_text(path("stdout"));
    }
}

// --- doctor ------------------------------------------------------------------------

TEST_F(cli_test, doctor_passes_a_sound_setup) {
    start_sensor();
    profile_sender sender({scene_profile()}, 5ms);
    const run_result r = run({"doctor"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    const char* names[] = {"receive buffer", "local address", "data port", "firewall", "profiles"};
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind(std::string("ok    ") + names[i] + ": ", 0), 0u) << lines[i];
    EXPECT_EQ(lines[2], "ok    data port: UDP port 50020 is free");
    EXPECT_EQ(lines[4], "ok    profiles: a profile of type 19 arrived");
}

// No stream, the data port held by this test, and a rate no buffer of the
// library's size rides out: three checks fail, each with its fix.
TEST_F(cli_test, doctor_names_each_failing_check_with_its_fix) {
    start_sensor();
    vorex_net::handle holder = vorex_net::open_udp();
    ASSERT_TRUE(vorex_net::set_reuse_address(holder));
    ASSERT_TRUE(vorex_net::bind(holder, {0, 50020}));
    const run_result r = run({"doctor", "--rate", "1000000"});
    vorex_net::close(holder);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vorexctl: 3 of 5 checks failed\n");
    const auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0].rfind("FAIL  receive buffer: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" at 1000000 profiles/s; fix: "), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1].rfind("ok    local address: ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "FAIL  data port: UDP port 50020 is already held by process " + std::to_string(getpid()) +
                            " (cli_commands); the profiles reach only one of the two; fix: stop that program, or give "
                            "the sensor another data port");
    EXPECT_EQ(lines[3].rfind("ok    firewall: ", 0), 0u) << lines[3];
    EXPECT_EQ(lines[4], "FAIL  profiles: no profile within 1 s of connecting; fix: make the sensor stream to this host's "
                        "data port (its stream parameters), and see the checks above");
}

// --- scan ------------------------------------------------------------------------

// A 32-bit float TIFF read back with libtiff.
struct tiff_map {
    std::uint32_t width = 0, height = 0;
    float x_resolution = 0;
    std::uint16_t unit = 0;
    std::vector<float> z;
    std::size_t missing_rows() const {
        std::size_t n = 0;
        for (std::size_t r = 0; r < height; ++r)
            n += std::all_of(&z[r * width], &z[r * width] + width, [](float v) { return std::isnan(v); });
        return n;
    }
};

tiff_map read_tiff(const std::string& path) {
    tiff_map m;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) {
        ADD_FAILURE() << "libtiff cannot read " << path;
        return m;
    }
    std::uint16_t bits = 0, format = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &m.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &m.height);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &m.x_resolution);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &m.unit);
    EXPECT_EQ(bits, 32);
    EXPECT_EQ(format, SAMPLEFORMAT_IEEEFP);
    m.z.resize(std::size_t(m.width) * m.height);
    for (std::uint32_t r = 0; r < m.height; ++r)
        if (TIFFReadScanline(t, &m.z[std::size_t(r) * m.width], r, 0) != 1) ADD_FAILURE() << "row " << r;
    TIFFClose(t);
    return m;
}

struct scan_summary {
    unsigned long profiles = 0, lost = 0, columns = 0, rows = 0;
    long long dropped = -1;
    double x_step = 0, y_step = 0, z_low = 0, z_high = 0;
};

scan_summary parse_summary(const std::string& line, const std::string& file) {
    scan_summary s;
    const std::string pattern = file + ": %lu profiles, %lu lost, %lld dropped by the kernel, grid %lu x %lu of %lf x "
                                       "%lf mm, Z %lf to %lf mm";
    EXPECT_EQ(std::sscanf(line.c_str(), pattern.c_str(), &s.profiles, &s.lost, &s.dropped, &s.columns, &s.rows,
                          &s.x_step, &s.y_step, &s.z_low, &s.z_high),
              9)
        << line;
    return s;
}

// One whole period of the simulator's moving part at 0.5 mm a profile:
// whatever the phase the scan starts at, each flat face covers its share
// of the map, and the heights are the part's.
TEST_F(cli_test, scan_of_the_moving_part_gives_its_heights_and_lost_profiles_leave_missing_rows) {
    namespace part = vorex_sim::part;
    start_sensor();
    // A period of 5 ms: only a stall of half of it at the very last
    // profile could add a row.
    constexpr double rate = 200, speed = 100;
    const auto profiles = static_cast<unsigned long>(part::period / speed * rate);
    sim->start_stream(0, {19, rate, {ipv4("198.18.1.1"), data_port}, speed});
    const run_result r = run({"scan", "--count", std::to_string(profiles), "--speed", "100", "--out", path("part.tiff")});
    ASSERT_EQ(r.status, 0) << r.err;
    const scan_summary s = parse_summary(r.out, path("part.tiff"));
    EXPECT_EQ(s.profiles, profiles);
    EXPECT_EQ(s.lost + s.dropped, 0u) << r.out;
    EXPECT_NEAR(s.y_step, speed / rate, 0.01);
    EXPECT_NEAR(s.z_low, vorex_sim::scene::plane_distance - 2 * part::cylinder_radius, 0.05) << "the cylinder's top";
    EXPECT_EQ(s.z_high, vorex_sim::scene::plane_distance);

    const tiff_map m = read_tiff(path("part.tiff"));
    EXPECT_EQ(m.width, s.columns);
    ASSERT_EQ(m.height, s.rows);
    EXPECT_EQ(m.unit, RESUNIT_CENTIMETER);
    EXPECT_NEAR(10.0 / m.x_resolution, 2 * vorex_sim::scene::field_half_width / 1295, 1e-5)
        << "the native spacing, to a float's precision";
    std::size_t measured = 0, plane = 0, high_top = 0;
    for (const float z : m.z) {
        measured += !std::isnan(z);
        plane += z == 250.0f;
        high_top += z == 250.0f - static_cast<float>(part::block_high);
    }
    const double area = 2 * vorex_sim::scene::field_half_width * part::period;
    const double high_area = (part::block_right - part::block_left) * (part::block_back - part::step_at);
    const double plane_area = area - (part::block_right - part::block_left) * (part::block_back - part::block_front) -
                              2 * part::cylinder_radius * (part::cylinder_back - part::cylinder_front) -
                              3.14159265 * part::sphere_radius * part::sphere_radius;
    ASSERT_GT(measured, m.z.size() * 95 / 100) << "the sensor's sparse dropouts aside, every cell is measured";
    EXPECT_NEAR(static_cast<double>(high_top) / static_cast<double>(measured), high_area / area, 0.005);
    EXPECT_NEAR(static_cast<double>(plane) / static_cast<double>(measured), plane_area / area, 0.01);

    // Profiles lost on the way: each leaves a row with nothing in it.
    sim->stop_streams();
    vorex_sim::fault_config drops;
    drops.drop = 0.1;
    drops.seed = 3;
    sim->set_faults(drops);
    sim->start_stream(0, {19, rate, {ipv4("198.18.1.1"), data_port}, speed});
    const run_result lossy = run({"scan", "--count", "300", "--speed", "100", "--out", path("lossy.tiff")});
    ASSERT_EQ(lossy.status, 0) << lossy.err;
    const scan_summary l = parse_summary(lossy.out, path("lossy.tiff"));
    const tiff_map lm = read_tiff(path("lossy.tiff"));
    EXPECT_GT(l.lost, 10u) << lossy.out;
    EXPECT_EQ(lm.height, 300 + l.lost);
    EXPECT_EQ(lm.missing_rows(), l.lost);
}

}  // namespace
}  // namespace vorex_test
