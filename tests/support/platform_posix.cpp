// The fixtures' view of the operating system on Linux: descriptor counts
// and private network namespaces.
#include <dirent.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/test_support.h"

namespace vorex_test {

const int test_timeout_ms = 40;

int open_descriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
        --n;  // the directory's own descriptor
    }
    return n;
}

int lowest_free_descriptor() {
    int probe = dup(0);
    close(probe);
    return probe;
}

namespace {
std::string namespace_of(const char* path) {
    char buf[128] = {};
    ssize_t n = readlink(path, buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}
}  // namespace

bool enter_private_network(const std::vector<std::string>& commands) {
    const std::string before = namespace_of("/proc/thread-self/ns/net");
    if (unshare(CLONE_NEWNET) != 0) {
        ADD_FAILURE() << "cannot create a private network namespace (unshare: " << std::strerror(errno)
                      << "); discovery tests need root";
        return false;
    }
    const std::string after = namespace_of("/proc/thread-self/ns/net");
    if (before.empty() || after == before) {
        ADD_FAILURE() << "still in the original network namespace";
        return false;
    }
    for (const std::string& c : commands)
        if (!network_command(c)) return false;
    return true;
}

bool network_command(const std::string& command) {
    std::string line = command + " >/dev/null 2>&1";
    if (std::system(line.c_str()) == 0) return true;
    ADD_FAILURE() << "network command failed: " << command;
    return false;
}

}  // namespace vorex_test
