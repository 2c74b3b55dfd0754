// Firmware upload on loopback against the simulated sensor.
//
// - upload_16MiB: throughput of write_firmware_image for a 16 MiB file.
// - stop_and_wait_udp: the bare floor of the same traffic, 1294-byte
//   requests answered by 14-byte replies one at a time, as many as the
//   upload has chunks, with no library and no simulator behind them.
// - upload_vs_stop_and_wait: both in one iteration; `ratio` is the upload's
//   time over the bare exchange's.
// - upload_peak_rss/<MiB>: the upload runs in a child process of its own
//   (this program re-executed); its peak resident set once connected and
//   at the end are reported. Flat means the growth does not follow the
//   file's size.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "core/wire.h"
#include "net/socket.h"
#include "sim/sensor_sim.h"
#include "vorex.h"

namespace {

constexpr std::uint32_t loopback = 0x0100007F;  // 127.0.0.1 as stored
constexpr std::uint32_t mask_8 = 0x000000FF;
constexpr std::size_t mib = 1024 * 1024;
constexpr std::size_t chunk_data = 1276;
constexpr std::size_t request_size = 18 + chunk_data;  // 1294
constexpr std::size_t reply_size = 14;

std::size_t chunks_of(std::size_t size) { return (size + chunk_data - 1) / chunk_data; }

// A file of `size` bytes under the temporary directory, removed with it.
class bench_file {
public:
    explicit bench_file(std::size_t size) {
        path_ = (std::filesystem::temp_directory_path() /
                 ("vorex-bench-" + std::to_string(getpid()) + "-" + std::to_string(size) + ".bin"))
                    .string();
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        std::vector<char> block(mib);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
        for (std::size_t done = 0; done < size; done += block.size())
            out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
    }
    ~bench_file() { std::filesystem::remove(path_); }
    bench_file(const bench_file&) = delete;
    bench_file& operator=(const bench_file&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

vorex_device_info_t record_for(std::uint16_t service_port) {
    vorex_sim::device_config c;
    c.ip_address = loopback;
    c.subnet_mask = mask_8;
    c.service_port = service_port;
    return vorex_sim::device_model(c).record();
}

// The simulated sensor and a session connected to it, for one benchmark.
struct upload_rig {
    upload_rig() {
        vorex::init();
        vorex_sim::device_config c;
        c.ip_address = loopback;
        c.subnet_mask = mask_8;
        sim = std::make_unique<vorex_sim::sensor_sim>(std::vector<vorex_sim::device_config>{c});
        vorex_device_info_t info = sim->record(0);
        session = std::make_unique<vorex>(&info, 1);
        connected = session->connect();
        sim->service(0).set_recording(false);  // 13,000 copies an upload that no sensor makes
    }
    ~upload_rig() {
        session.reset();
        sim.reset();
        vorex::cleanup();
    }
    bool upload(const std::string& path) {
        return session->write_firmware_image(path.c_str());
    }

    std::unique_ptr<vorex_sim::sensor_sim> sim;
    std::unique_ptr<vorex> session;
    bool connected = false;
};

using vorex_bench::bare_responder;

// `exchanges` stop-and-wait round trips of chunk-sized requests.
bool stop_and_wait(vorex_net::endpoint peer, std::size_t exchanges) {
    return vorex_bench::stop_and_wait(peer, exchanges, request_size, reply_size);
}

constexpr std::size_t upload_size = 16 * mib;

void upload_16MiB(benchmark::State& state) {
    bench_file file(upload_size);
    upload_rig rig;
    if (!rig.connected) state.SkipWithError("cannot connect to the simulated sensor");
    for (auto _ : state)
        if (!rig.upload(file.path())) state.SkipWithError("upload failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * upload_size));
}
BENCHMARK(upload_16MiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void stop_and_wait_udp(benchmark::State& state) {
    vorex::init();
    {
        bare_responder peer(reply_size);
        for (auto _ : state)
            if (!stop_and_wait(peer.local(), chunks_of(upload_size) + 1)) state.SkipWithError("reply lost");
    }
    vorex::cleanup();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * upload_size));
}
BENCHMARK(stop_and_wait_udp)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void upload_vs_stop_and_wait(benchmark::State& state) {
    bench_file file(upload_size);
    upload_rig rig;
    bare_responder peer(reply_size);
    double upload_s = 0, bare_s = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        if (!rig.upload(file.path())) state.SkipWithError("upload failed");
        auto t1 = std::chrono::steady_clock::now();
        if (!stop_and_wait(peer.local(), chunks_of(upload_size) + 1)) state.SkipWithError("reply lost");
        auto t2 = std::chrono::steady_clock::now();
        upload_s += std::chrono::duration<double>(t1 - t0).count();
        bare_s += std::chrono::duration<double>(t2 - t1).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["upload_MiB/s"] = static_cast<double>(upload_size) / mib / (upload_s / n);
    state.counters["bare_MiB/s"] = static_cast<double>(upload_size) / mib / (bare_s / n);
    state.counters["ratio"] = upload_s / bare_s;
    state.counters["value"] = state.counters["upload_MiB/s"];
    state.counters["floor"] = state.counters["bare_MiB/s"];
}
BENCHMARK(upload_vs_stop_and_wait)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The peak resident set of this process's own address space, in KiB: the
// VmHWM line of /proc/self/status, which starts afresh at exec (unlike
// ru_maxrss, which carries the forking parent's peak across exec).
long own_peak_rss_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

struct child_peaks {
    long connected = -1;  // peak up to the moment the upload starts
    long finished = -1;   // peak over the whole run
};

// Runs this program as "--upload-child <port> <file>" and reads the two
// peaks it prints.
child_peaks run_upload_child(std::uint16_t port, const std::string& file) {
    const std::string port_text = std::to_string(port);
    int out[2];
    child_peaks peaks;
    if (pipe(out) != 0) return peaks;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execl("/proc/self/exe", "bench_firmware", "--upload-child", port_text.c_str(), file.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return peaks;
    std::sscanf(text.c_str(), "%ld %ld", &peaks.connected, &peaks.finished);
    return peaks;
}

void upload_peak_rss(benchmark::State& state) {
    const std::size_t size = static_cast<std::size_t>(state.range(0)) * mib;
    bench_file file(size);
    upload_rig rig;  // the sensor the child talks to
    const std::uint16_t port = rig.sim->service(0).local().port;
    child_peaks peaks;
    for (auto _ : state) {
        peaks = run_upload_child(port, file.path());
        if (peaks.finished < 0) state.SkipWithError("child upload failed");
    }
    state.counters["file_MiB"] = static_cast<double>(state.range(0));
    state.counters["peak_before_upload_KiB"] = static_cast<double>(peaks.connected);
    state.counters["peak_KiB"] = static_cast<double>(peaks.finished);
    state.counters["value"] = static_cast<double>(peaks.finished);
    state.counters["floor"] = static_cast<double>(peaks.connected);
    state.counters["growth_KiB"] = static_cast<double>(peaks.finished - peaks.connected);
}
BENCHMARK(upload_peak_rss)->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The child: connect to the sensor on `port`, upload `file`, print the
// peaks before and after.
int upload_child(const char* port_text, const char* file) {
    if (!vorex::init()) return 2;
    vorex_device_info_t info = record_for(static_cast<std::uint16_t>(std::atoi(port_text)));
    bool ok;
    long before = -1;
    {
        vorex session(&info, 1);
        ok = session.connect();
        before = own_peak_rss_kib();
        ok = ok && session.write_firmware_image(file);
    }
    vorex::cleanup();
    std::printf("%ld %ld\n", before, own_peak_rss_kib());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--upload-child") == 0) return upload_child(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
