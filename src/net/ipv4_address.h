// Conversions between the layer's endpoint and the platform's IPv4 socket
// address, the same on every platform that has sockaddr_in.
#ifndef VOREX_NET_IPV4_ADDRESS_H
#define VOREX_NET_IPV4_ADDRESS_H

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include "net/socket.h"

namespace vorex_net {

inline sockaddr_in to_sockaddr(endpoint e) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = e.address;
    a.sin_port = htons(e.port);
    return a;
}

inline endpoint from_sockaddr(const sockaddr_in& a) { return endpoint{a.sin_addr.s_addr, ntohs(a.sin_port)}; }

}  // namespace vorex_net

#endif
