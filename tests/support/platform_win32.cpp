// The fixtures' view of the operating system on Windows (run under wine):
// handle counts, and the private network that scripts/ci-windows.sh made.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "support/test_support.h"

namespace vorex_test {

const int test_timeout_ms = 100;

// The counterpart of counting /proc/self/fd: the open sockets among the
// process's handles. Wine, and Windows itself, also open handles of their
// own (events, threads) at moments of their choosing, so only handles that
// are bound sockets count; every socket the tests track is bound while
// open. Handle values are small multiples of 4; the bound leaves room for
// many more than a test opens.
int open_descriptors() {
    constexpr ULONG_PTR highest = 4 * 16384;
    int n = 0;
    for (ULONG_PTR value = 4; value <= highest; value += 4) {
        DWORD flags = 0;
        vorex_net::endpoint bound{};
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) &&
            vorex_net::local_endpoint(static_cast<vorex_net::handle>(value), &bound))
            ++n;
    }
    return n;
}

namespace {

// Runs private_network.sh as a Linux program: wine starts Unix executables
// itself, inside the wine process's network namespace. It cannot report
// their exit status, so the script leaves its verdict in a file.
bool run_network_script(const char* mode, const std::vector<std::string>& commands) {
    static int runs = 0;
    const std::string status =
        "vorex-network-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs) + ".status";
    std::string line = std::string("/bin/sh \"") + VOREX_NETWORK_SCRIPT + "\" \"" + status + "\" " + mode;
    for (const std::string& c : commands) line += " \"" + c + "\"";
    std::vector<char> writable(line.begin(), line.end());
    writable.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "cannot start " << VOREX_NETWORK_SCRIPT << " (error " << GetLastError() << ")";
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const auto give_up = std::chrono::steady_clock::now() + 30s;
    std::string verdict;
    while (!std::getline(std::ifstream(status), verdict)) {
        if (std::chrono::steady_clock::now() > give_up) {
            ADD_FAILURE() << "no verdict from " << VOREX_NETWORK_SCRIPT;
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    std::remove(status.c_str());
    if (verdict == "ok") return true;
    ADD_FAILURE() << "private network: " << verdict;
    return false;
}

}  // namespace

bool enter_private_network(const std::vector<std::string>& commands) { return run_network_script("fresh", commands); }

bool network_command(const std::string& command) { return run_network_script("keep", {command}); }

}  // namespace vorex_test
