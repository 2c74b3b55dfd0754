// The parts of the Winsock layer that decide something: which Winsock
// errors mean what to the library, and which adapters and addresses the
// adapter table contributes. Kept apart from the calls themselves so a
// test can drive them with fake tables and codes. Windows only.
#ifndef VOREX_NET_WINSOCK_PARTS_H
#define VOREX_NET_WINSOCK_PARTS_H

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstdint>
#include <vector>

namespace vorex_net::winsock {

// What a failed call means to the library. Every Winsock error code is
// translated here and nowhere else.
enum class failure {
    timed_out,       // the receive timeout passed: an empty receive
    oversize,        // the datagram did not fit and was dropped whole
    reset,           // an ICMP report of an earlier send: a failed receive
    address_in_use,  // bind: the port is taken (the data port retry)
    other,
};
failure classify(int wsa_error);

// GetAdaptersAddresses, or a stand-in for it.
using adapter_query = ULONG(WINAPI*)(ULONG family, ULONG flags, PVOID reserved, PIP_ADAPTER_ADDRESSES table,
                                     PULONG size);

// Asks `query` for the size of the table, then for the table, and walks it.
// Any answer but ERROR_BUFFER_OVERFLOW to the size query, or any error
// from the second, gives an empty list.
std::vector<std::uint32_t> up_ipv4_addresses(adapter_query query);

// The IPv4 unicast addresses of the operationally up adapters of a table,
// adapter by adapter and address by address in the table's order.
std::vector<std::uint32_t> up_ipv4_addresses(const IP_ADAPTER_ADDRESSES* table);

}  // namespace vorex_net::winsock

#endif
