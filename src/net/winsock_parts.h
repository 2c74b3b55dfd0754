// The parts of the Winsock layer that decide something: which Winsock
// errors mean what to the library, and which adapters and addresses the
// adapter table contributes. Kept apart from the calls themselves so a
// test can drive them with fake tables and codes. Windows only.
#ifndef VOREX_NET_WINSOCK_PARTS_H
#define VOREX_NET_WINSOCK_PARTS_H

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <iphlpapi.h>

#include <atomic>
#include <cstdint>
#include <vector>

// Not every SDK names the second of the two reports.
#ifndef SIO_UDP_NETRESET
#define SIO_UDP_NETRESET _WSAIOW(IOC_VENDOR, 15)
#endif

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

// Adapters can come and go between the size query and the table query; an
// overflow answer to the latter carries the new size, and the table is
// asked for again, at most this many times in all.
constexpr int table_attempts = 4;

// Asks `query` for the size of the table, then for the table, and walks it.
// Any answer but ERROR_BUFFER_OVERFLOW to the size query, any error but an
// overflow from the table query, or table_attempts overflows give an empty
// list.
std::vector<std::uint32_t> up_ipv4_addresses(adapter_query query);

// WSAIoctl, or a stand-in for it.
using socket_ioctl = int(WSAAPI*)(SOCKET, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPWSAOVERLAPPED,
                                  LPWSAOVERLAPPED_COMPLETION_ROUTINE);
// Switches off the reports with which Winsock fails the next receive of a
// UDP socket after an ICMP port or net unreachable answered an earlier
// send (SIO_UDP_CONNRESET, SIO_UDP_NETRESET). A lost acknowledgement must
// not cost the wait behind it. True when both were switched off.
bool stop_unreachable_reports(SOCKET s, socket_ioctl ioctl);

// WSAStartup and WSACleanup, or stand-ins for them.
using startup_call = int(WSAAPI*)(WORD, LPWSADATA);
using cleanup_call = int(WSAAPI*)();
// Balances every successful start with one cleanup and nothing else: a
// start that failed is not cleaned up, and a stop without a start does
// nothing.
class layer_starts {
public:
    bool start(startup_call startup);
    void stop(cleanup_call cleanup);

private:
    std::atomic<int> started_{0};
};

// The IPv4 unicast addresses of the operationally up adapters of a table,
// adapter by adapter and address by address in the table's order.
std::vector<std::uint32_t> up_ipv4_addresses(const IP_ADAPTER_ADDRESSES* table);

}  // namespace vorex_net::winsock

#endif
