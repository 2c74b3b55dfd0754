// Firmware files that only Linux makes easy: one that opens but cannot be
// read (/proc/self/mem) and one of unknown size (a FIFO); and what a child
// started during an upload would inherit.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include <thread>

#include "maintenance_support.h"

namespace vorex_test {
namespace {

TEST_F(firmware_test, a_read_error_ends_the_upload_without_a_checksum_request) {
    // Reading /proc/self/mem from offset 0 fails with EIO: the file opens,
    // its size is unknown and the first read is an error, not end of file.
    script(firmware_sensor(0));
    const std::uint16_t start = counter();
    EXPECT_FALSE(session->write_firmware_image("/proc/self/mem"));
    EXPECT_STREQ(session->error_msg(), "No error");
    EXPECT_TRUE(wire().empty());
    EXPECT_EQ(counter(), start);
}

// The descriptors of this process open on `path`, and whether each is
// closed on exec.
std::vector<bool> descriptors_on(const std::string& path) {
    std::vector<bool> close_on_exec;
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds) return close_on_exec;
    while (const dirent* e = ::readdir(fds)) {
        char target[PATH_MAX] = {};
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        if (::readlink(link.c_str(), target, sizeof target - 1) <= 0 || path != target) continue;
        close_on_exec.push_back((::fcntl(std::atoi(e->d_name), F_GETFD) & FD_CLOEXEC) != 0);
    }
    ::closedir(fds);
    return close_on_exec;
}

TEST_F(firmware_test, the_file_being_uploaded_is_not_inherited_by_a_child) {
    const bytes file = firmware_pattern(3000);
    const std::string path = dir.write("image.bin", file);
    script(firmware_sensor(reference_checksum(file)));
    std::vector<bool> seen;
    const bool ok = session->write_firmware_image(path.c_str(), [&](std::uint64_t, std::uint64_t) {
        if (seen.empty()) seen = descriptors_on(path);
    });
    EXPECT_TRUE(ok) << session->error_msg();
    EXPECT_EQ(seen, std::vector<bool>{true});  // open once, closed on exec
    EXPECT_TRUE(descriptors_on(path).empty());
}

TEST_F(firmware_test, a_pipe_of_unknown_size_is_uploaded_with_progress_total_zero) {
    const std::string fifo = dir.path("image.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const bytes file = firmware_pattern(3000);
    script(firmware_sensor(reference_checksum(file)));
    std::thread writer([&] {
        std::ofstream out(fifo, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    });
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    const bool ok = session->write_firmware_image(
        fifo.c_str(), [&](std::uint64_t done, std::uint64_t total) { progress.emplace_back(done, total); });
    writer.join();
    EXPECT_TRUE(ok) << session->error_msg();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().first, 3000u);
    for (const auto& p : progress) EXPECT_EQ(p.second, 0u);
}

}  // namespace
}  // namespace vorex_test
