#include "udp_table.h"

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace vorexctl {

std::vector<udp_socket_row> parse_udp_table(const std::string& text) {
    std::vector<udp_socket_row> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops
        unsigned address = 0, port = 0;
        unsigned long long inode = 0, drops = 0;
        if (std::sscanf(line.c_str(), " %*u: %8x:%4x %*x:%*x %*x %*x:%*x %*x:%*x %*x %*u %*u %llu %*u %*x %llu",
                        &address, &port, &inode, &drops) != 4)
            continue;
        rows.push_back({address, static_cast<std::uint16_t>(port), inode, drops});
    }
    return rows;
}

std::vector<udp_socket_row> read_udp_table() {
    std::ifstream in("/proc/net/udp");
    std::stringstream text;
    text << in.rdbuf();
    return parse_udp_table(text.str());
}

namespace {

// The socket inodes a process holds, by descriptor.
std::map<int, std::uint64_t> socket_descriptors(const std::string& process) {
    std::map<int, std::uint64_t> sockets;
    const std::string dir = "/proc/" + process + "/fd";
    DIR* fds = opendir(dir.c_str());
    if (!fds) return sockets;
    for (dirent* e; (e = readdir(fds));) {
        char target[64];
        const std::string path = dir + "/" + e->d_name;
        const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = 0;
        unsigned long long inode = 0;
        if (std::sscanf(target, "socket:[%llu]", &inode) == 1) sockets[std::atoi(e->d_name)] = inode;
    }
    closedir(fds);
    return sockets;
}

std::string first_line_of(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::set<std::uint64_t> own_socket_inodes() {
    std::set<std::uint64_t> inodes;
    for (const auto& [fd, inode] : socket_descriptors("self")) inodes.insert(inode);
    return inodes;
}

long own_receive_buffer_on_port(std::uint16_t port) {
    const std::vector<udp_socket_row> table = read_udp_table();
    for (const auto& [fd, inode] : socket_descriptors("self"))
        for (const udp_socket_row& r : table)
            if (r.inode == inode && r.local_port == port) {
                int value = 0;
                socklen_t len = sizeof value;
                return ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, &len) == 0 ? value : -1;
            }
    return -1;
}

std::string socket_owner(std::uint64_t inode) {
    DIR* processes = opendir("/proc");
    if (!processes) return "";
    std::string owner;
    for (dirent* e; owner.empty() && (e = readdir(processes));) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        for (const auto& [fd, held] : socket_descriptors(e->d_name))
            if (held == inode) {
                owner = std::string(e->d_name) + " (" + first_line_of(std::string("/proc/") + e->d_name + "/comm") + ")";
                break;
            }
    }
    closedir(processes);
    return owner;
}

std::string port_holder(std::uint16_t port) {
    const std::set<std::uint64_t> own = own_socket_inodes();
    for (const udp_socket_row& r : read_udp_table()) {
        if (r.local_port != port || own.count(r.inode)) continue;
        const std::string owner = socket_owner(r.inode);
        return owner.empty() ? "another socket" : "process " + owner;
    }
    return "";
}

std::int64_t own_drops_on_port(std::uint16_t port) {
    const std::set<std::uint64_t> own = own_socket_inodes();
    std::int64_t drops = -1;
    for (const udp_socket_row& r : read_udp_table())
        if (r.local_port == port && own.count(r.inode)) drops = (drops < 0 ? 0 : drops) + static_cast<std::int64_t>(r.drops);
    return drops;
}

}  // namespace vorexctl
