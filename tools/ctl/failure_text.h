// What a failed library call means in words, for the tools and the Python
// module alike. The library leaves "No error" after a failure it has no
// message for (a reply that never came, an image that stopped, a file it
// could not read); said as it stands, that tells the user nothing, and
// calling all of it a time-out would be wrong for most. Header only, over
// the public class.
#ifndef VOREXCTL_FAILURE_TEXT_H
#define VOREXCTL_FAILURE_TEXT_H

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace vorexctl {

// One receive timeout of the library's sockets: the whole wait of the
// calls that make a single receive.
constexpr int receive_timeout_ms = 100;

// How long the library waits for the reply of `operation` (a member name
// such as "read_laser_params"), as its header states the waits: the
// parameter groups, write_params and flush_params 3000 ms, reboot and the
// commit request 2000 ms, the single receives one timeout.
inline int reply_wait_ms(const std::string& operation) {
    const auto is = [&operation](const char* name) { return operation == name; };
    const auto starts = [&operation](const char* prefix) { return operation.rfind(prefix, 0) == 0; };
    if (is("read_params") || is("read_log") || is("read_log_record_count")) return receive_timeout_ms;
    if (is("reboot") || is("flush_firmware_image")) return 2000;
    if (starts("read_") || starts("write_") || is("flush_params")) return 3000;
    return receive_timeout_ms;
}

// The library's text for a failed `operation`, or, where it says "No
// error", what that failure can only have been.
inline std::string failure_reason(const std::string& operation, const char* library_text) {
    if (library_text && std::strcmp(library_text, "No error") != 0) return library_text;
    if (operation == "get_image") return "no complete image from the sensor";
    // The library's own failures of an upload carry a text; "No error" is
    // left by the file: 4 GiB or more, or a read that failed part-way.
    if (operation == "write_firmware_image") return "the file could not be read to its end, or is 4 GiB or more";
    return "no reply from the sensor within " + std::to_string(reply_wait_ms(operation)) + " ms";
}

// Why the existing file `path` cannot be a firmware image (a directory,
// not a regular file, empty), or "" when it can or does not exist: a
// missing file is the library's to report.
inline std::string unusable_firmware_file(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) return "";
    const std::string name = path.string();
    if (std::filesystem::is_directory(status)) return name + " is a directory, not a firmware file";
    if (!std::filesystem::is_regular_file(status)) return name + " is not a regular file";
    if (std::filesystem::file_size(path, error) == 0 && !error) return name + " is empty: there is no firmware to upload";
    return "";
}

}  // namespace vorexctl

#endif
