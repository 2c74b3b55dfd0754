// The kernel's table of UDP sockets (Linux: /proc/net/udp), read to tell
// how many datagrams a port's socket dropped and who else holds a port.
#ifndef VOREXCTL_UDP_TABLE_H
#define VOREXCTL_UDP_TABLE_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vorexctl {

struct udp_socket_row {
    std::uint32_t local_address = 0;  // as the kernel prints it: network order read as a host number
    std::uint16_t local_port = 0;
    std::uint64_t inode = 0;
    std::uint64_t drops = 0;
};

// The rows of /proc/net/udp's text; lines that do not parse are skipped.
std::vector<udp_socket_row> parse_udp_table(const std::string& text);
// The rows of this machine's table (empty where there is none).
std::vector<udp_socket_row> read_udp_table();
// The socket inodes this process holds open.
std::set<std::uint64_t> own_socket_inodes();

// The receive buffer the kernel gives this process's own socket bound to
// `port` (Linux reports twice the granted size, its bookkeeping included),
// or -1 when there is none or the platform does not tell.
long own_receive_buffer_on_port(std::uint16_t port);

// The process (pid and command name, "1234 (name)") holding the socket
// with this inode, or "" when none can be found.
std::string socket_owner(std::uint64_t inode);

// Who else holds a UDP socket bound to `port`: "process 1234 (name)", or
// "another socket" when its process cannot be found; "" when no socket of
// another process holds it.
std::string port_holder(std::uint16_t port);

// Datagrams dropped so far by this process's own sockets bound to `port`,
// or -1 when the platform does not tell.
std::int64_t own_drops_on_port(std::uint16_t port);

}  // namespace vorexctl

#endif
