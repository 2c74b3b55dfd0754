// What every command that talks to a sensor shares: how it fails, how the
// user names the sensor, and how the sensor is found and connected.
#ifndef VOREXCTL_SESSION_H
#define VOREXCTL_SESSION_H

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "select.h"
#include "vorex.h"

namespace vorexctl {

enum exit_status : int { exit_ok = 0, exit_failed = 1, exit_usage = 2 };

// Ends a command; main prints the one-line message and exits with `status`.
struct command_error : std::runtime_error {
    command_error(exit_status s, const std::string& message) : std::runtime_error(message), status(s) {}
    exit_status status;
};

[[noreturn]] void fail(const std::string& message);
[[noreturn]] void usage_error(const std::string& message);
// "<operation> failed: <the library's error text>", or what the failure
// means where the library's text is "No error".
[[noreturn]] void operation_failed(vorex& sensor, const std::string& operation);

// --serial, --ip and --mac of one command.
struct selector_options {
    std::uint32_t serial = 0;
    std::string ip;
    std::string mac;
    CLI::Option* serial_given = nullptr;

    selector resolve() const;
};
void add_selector_options(CLI::App& command, selector_options& options);

// The library from init to cleanup.
class library_scope {
public:
    library_scope();
    ~library_scope();
    library_scope(const library_scope&) = delete;
    library_scope& operator=(const library_scope&) = delete;
};

// Searches, picks the one sensor `wanted` names and connects to it unless
// told not to. REQUIRES: a library_scope lives.
std::shared_ptr<vorex> open_sensor(const selector& wanted, bool connect = true);

// Subcommands and what each runs once the command line is parsed.
class command_registry {
public:
    void add(CLI::App* command, std::function<void()> run) { entries_.emplace_back(command, std::move(run)); }
    // The action of the subcommand that was parsed; empty if none was.
    std::function<void()> chosen() const;

private:
    std::vector<std::pair<CLI::App*, std::function<void()>>> entries_;
};

// True when the stream is a terminal (live status lines go there only).
bool is_terminal(std::FILE* stream);

// A line on stderr redrawn in place while a command works, only when stderr
// is a terminal, and at most once a `period` unless asked to draw now. On
// the way out it is either cleared, so a message starts on a clean line, or
// kept and ended with a newline.
class live_line {
public:
    enum class at_end { clear, keep };
    live_line(std::chrono::milliseconds period, at_end end);
    ~live_line();
    live_line(const live_line&) = delete;
    live_line& operator=(const live_line&) = delete;

    void show(const std::string& text, bool now = false);
    void clear();

private:
    bool live_;
    std::chrono::milliseconds period_;
    at_end end_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// Where a command's output goes: the file `path` (created or replaced), or
// standard output when the path is empty or "-".
class output_file {
public:
    explicit output_file(const std::string& path);
    ~output_file();
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;

    bool is_stdout() const { return file_ == stdout; }
    void write(const void* data, std::size_t size);
    void write(const std::string& text) { write(text.data(), text.size()); }
    // Flushes and closes; fails the command if any write was lost.
    void finish();

private:
    std::string name_;
    std::FILE* file_;
};

// The whole contents of the file `path`, or of standard input for "-";
// a file that cannot be read is a usage error (exit status 2).
std::string read_input(const std::string& path);

}  // namespace vorexctl

#endif
