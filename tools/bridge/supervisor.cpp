// The supervisor: searches every second, keeps one worker process per
// sensor, restarts a worker whose sensor came back with another record or
// that ended, and stops them all on SIGTERM or SIGINT.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>

#include "bridge.h"
#include "dds.h"
#include "format.h"

extern char** environ;

namespace vorex_bridge {

std::atomic<bool> stopping{false};

namespace {

constexpr auto search_period = std::chrono::seconds(1);
constexpr auto stop_limit = std::chrono::seconds(5);

void on_signal(int) { stopping = true; }

// The fields a worker's session depends on.
bool same_sensor(const vorex_device_info_t& a, const vorex_device_info_t& b) {
    return a.ip_address == b.ip_address && a.subnet_mask == b.subnet_mask && a.data_port == b.data_port &&
           a.service_port == b.service_port && a.image_packet_size == b.image_packet_size &&
           std::memcmp(a.mac_address, b.mac_address, sizeof a.mac_address) == 0;
}

std::string describe(const vorex_device_info_t& r) {
    return "s" + std::to_string(r.serial) + " at " + vorexctl::dotted(r.ip_address) + ", data port " +
           std::to_string(r.data_port);
}

void log_line(const std::string& line) {
    std::printf("vorex-bridge: %s\n", line.c_str());
    std::fflush(stdout);
}

struct worker_process {
    pid_t pid = 0;
    vorex_device_info_t record{};
};

class supervisor {
public:
    supervisor(const bridge_options& o, std::string program) : options_(o), program_(std::move(program)) {}
    ~supervisor() { stop_all(); }
    supervisor(const supervisor&) = delete;
    supervisor& operator=(const supervisor&) = delete;

    void run() {
        while (!stopping) {
            const auto next = std::chrono::steady_clock::now() + search_period;
            reap();
            for (const auto& found : vorex::search()) keep(*found);
            while (!stopping && std::chrono::steady_clock::now() < next) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                reap();
            }
        }
    }

private:
    bool wanted(std::uint32_t serial) const {
        return options_.serials.empty() ||
               std::find(options_.serials.begin(), options_.serials.end(), serial) != options_.serials.end();
    }

    // Gives a found sensor its worker, unless it has one for this record.
    void keep(vorex& sensor) {
        const vorex_device_info_t& record = sensor.info();
        if (stopping || !wanted(record.serial)) return;
        const auto at = workers_.find(record.serial);
        if (at != workers_.end()) {
            if (same_sensor(at->second.record, record)) return;
            log_line(describe(record) + ": device record changed, restarting its worker");
            stop(at->second);
            workers_.erase(at);
        }
        start(record);
    }

    void start(const vorex_device_info_t& record) {
        std::vector<std::string> words = {program_, "--worker-record", record_hex(record)};
        for (auto& w : option_words(options_)) words.push_back(w);
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawn(&pid, program_.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            log_line(describe(record) + ": cannot start a worker: " + std::strerror(errno));
            return;
        }
        workers_[record.serial] = {pid, record};
        log_line(describe(record) + ": worker " + std::to_string(pid) + " started");
    }

    // Collects workers that ended; their sensors get a new worker when the
    // next search finds them.
    void reap() {
        for (auto it = workers_.begin(); it != workers_.end();) {
            int status = 0;
            if (waitpid(it->second.pid, &status, WNOHANG) == it->second.pid) {
                log_line(describe(it->second.record) + ": worker " + std::to_string(it->second.pid) + " ended (" +
                         (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                                            : "signal " + std::to_string(WTERMSIG(status))) +
                         ")");
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }

    static void stop(const worker_process& w) {
        kill(w.pid, SIGTERM);
        const auto give_up = std::chrono::steady_clock::now() + stop_limit;
        int status = 0;
        while (waitpid(w.pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > give_up) {
                kill(w.pid, SIGKILL);
                waitpid(w.pid, &status, 0);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void stop_all() {
        for (const auto& w : workers_) kill(w.second.pid, SIGTERM);
        for (const auto& w : workers_) stop(w.second);
        workers_.clear();
    }

    const bridge_options& options_;
    std::string program_;
    std::map<std::uint32_t, worker_process> workers_;
};

}  // namespace

void stop_on_signals() {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

int run_supervisor(const bridge_options& o, const std::string& program) {
    // DDS is tried once before anything else, so that a bad domain or
    // CYCLONEDDS_URI is one line and no worker at all.
    try {
        participant check(o.domain);
    } catch (const dds_failure& e) {
        std::fprintf(stderr, "vorex-bridge: %s\n", e.what());
        return 1;
    }
    if (!vorex::init()) {
        std::fprintf(stderr, "vorex-bridge: the socket layer did not start\n");
        return 1;
    }
    {
        supervisor s(o, program);
        s.run();
    }
    vorex::cleanup();
    return 0;
}

}  // namespace vorex_bridge
