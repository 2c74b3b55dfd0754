// The Winsock layer's own decisions: what each Winsock error means, and
// which addresses an adapter table yields, against fake tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>

#include "net/winsock_parts.h"

namespace {

using vorex_net::winsock::failure;

TEST(winsock_errors, each_code_the_layer_relies_on_has_its_meaning) {
    struct {
        int code;
        failure meaning;
    } cases[] = {
        {WSAETIMEDOUT, failure::timed_out},  {WSAEMSGSIZE, failure::oversize},
        {WSAECONNRESET, failure::reset},     {WSAEADDRINUSE, failure::address_in_use},
        {WSAEACCES, failure::other},         {WSAEADDRNOTAVAIL, failure::other},
        {WSAEWOULDBLOCK, failure::other},    {0, failure::other},
    };
    for (auto c : cases) EXPECT_EQ(vorex_net::winsock::classify(c.code), c.meaning) << c.code;
}

// An adapter table as GetAdaptersAddresses lays it out: linked adapters,
// each with linked unicast addresses pointing at socket addresses.
class fake_table {
public:
    IP_ADAPTER_ADDRESSES* adapter(IF_OPER_STATUS status) {
        IP_ADAPTER_ADDRESSES& a = adapters_.emplace_back();
        std::memset(&a, 0, sizeof a);
        a.OperStatus = status;
        if (adapters_.size() > 1) adapters_[adapters_.size() - 2].Next = &a;
        return &a;
    }
    void ipv4(IP_ADAPTER_ADDRESSES* a, std::uint32_t address) {
        sockaddr_in& s = v4_.emplace_back();
        std::memset(&s, 0, sizeof s);
        s.sin_family = AF_INET;
        s.sin_addr.s_addr = address;
        append(a, reinterpret_cast<SOCKADDR*>(&s), sizeof s);
    }
    void ipv6(IP_ADAPTER_ADDRESSES* a) {
        sockaddr_in6& s = v6_.emplace_back();
        std::memset(&s, 0, sizeof s);
        s.sin6_family = AF_INET6;
        append(a, reinterpret_cast<SOCKADDR*>(&s), sizeof s);
    }
    const IP_ADAPTER_ADDRESSES* head() const { return adapters_.empty() ? nullptr : &adapters_.front(); }

private:
    void append(IP_ADAPTER_ADDRESSES* a, SOCKADDR* s, int length) {
        IP_ADAPTER_UNICAST_ADDRESS& u = unicast_.emplace_back();
        std::memset(&u, 0, sizeof u);
        u.Address.lpSockaddr = s;
        u.Address.iSockaddrLength = length;
        IP_ADAPTER_UNICAST_ADDRESS** tail = &a->FirstUnicastAddress;
        while (*tail) tail = &(*tail)->Next;
        *tail = &u;
    }
    // deques: elements stay where they are while the table grows
    std::deque<IP_ADAPTER_ADDRESSES> adapters_;
    std::deque<IP_ADAPTER_UNICAST_ADDRESS> unicast_;
    std::deque<sockaddr_in> v4_;
    std::deque<sockaddr_in6> v6_;
};

TEST(winsock_adapters, up_adapters_give_their_ipv4_unicast_addresses_in_table_order) {
    fake_table t;
    auto* first = t.adapter(IfOperStatusUp);
    t.ipv4(first, 0x0500000A);  // 10.0.0.5
    t.ipv6(first);
    t.ipv4(first, 0x0600000A);  // 10.0.0.6, after an IPv6 address
    auto* down = t.adapter(IfOperStatusDown);
    t.ipv4(down, 0x0100A8C0);
    auto* dormant = t.adapter(IfOperStatusDormant);
    t.ipv4(dormant, 0x0200A8C0);
    t.adapter(IfOperStatusUp);  // up without addresses
    auto* last = t.adapter(IfOperStatusUp);
    t.ipv6(last);
    t.ipv4(last, 0x0701A8C0);  // 192.168.1.7
    EXPECT_EQ(vorex_net::winsock::up_ipv4_addresses(t.head()),
              (std::vector<std::uint32_t>{0x0500000A, 0x0600000A, 0x0701A8C0}));
    EXPECT_TRUE(vorex_net::winsock::up_ipv4_addresses(static_cast<const IP_ADAPTER_ADDRESSES*>(nullptr)).empty());
}

// A stand-in for GetAdaptersAddresses that records how it was asked and
// answers from a script. Plain function pointers carry no state: it lives
// here, one test at a time.
struct scripted_query {
    ULONG size_answer = ERROR_BUFFER_OVERFLOW;
    ULONG table_answer = NO_ERROR;
    int overflows = 0;  // table queries answered with a grown size first
    ULONG size = 0;
    std::vector<ULONG> families, flags, sizes_offered;
    std::vector<bool> had_table;
    const IP_ADAPTER_ADDRESSES* content = nullptr;
};
scripted_query* current = nullptr;

ULONG WINAPI fake_query(ULONG family, ULONG flags, PVOID, PIP_ADAPTER_ADDRESSES table, PULONG size) {
    scripted_query& q = *current;
    q.families.push_back(family);
    q.flags.push_back(flags);
    q.sizes_offered.push_back(*size);
    q.had_table.push_back(table != nullptr);
    if (!table) {
        *size = q.size;
        return q.size_answer;
    }
    if (q.overflows > 0) {
        --q.overflows;
        q.size += 64;  // an adapter came up meanwhile
        *size = q.size;
        return ERROR_BUFFER_OVERFLOW;
    }
    if (q.table_answer == NO_ERROR) std::memcpy(table, q.content, sizeof *q.content);
    return q.table_answer;
}

TEST(winsock_adapters, the_size_is_asked_first_and_any_failure_leaves_the_list_empty) {
    fake_table t;
    IP_ADAPTER_ADDRESSES* a = t.adapter(IfOperStatusUp);
    t.ipv4(a, 0x0100007F);
    struct {
        ULONG size_answer;
        ULONG table_answer;
        std::size_t calls;
        std::vector<std::uint32_t> expected;
    } cases[] = {
        {ERROR_BUFFER_OVERFLOW, NO_ERROR, 2, {0x0100007F}},
        {NO_ERROR, NO_ERROR, 1, {}},  // only ERROR_BUFFER_OVERFLOW carries a size
        {ERROR_NO_DATA, NO_ERROR, 1, {}},
        {ERROR_BUFFER_OVERFLOW, ERROR_NOT_ENOUGH_MEMORY, 2, {}},
    };
    for (auto c : cases) {
        scripted_query q;
        q.size_answer = c.size_answer;
        q.table_answer = c.table_answer;
        q.size = sizeof(IP_ADAPTER_ADDRESSES);
        q.content = a;
        current = &q;
        EXPECT_EQ(vorex_net::winsock::up_ipv4_addresses(&fake_query), c.expected) << c.size_answer;
        ASSERT_EQ(q.families.size(), c.calls);
        EXPECT_FALSE(q.had_table[0]);
        for (std::size_t i = 0; i < c.calls; ++i) {
            EXPECT_EQ(q.families[i], ULONG{AF_UNSPEC});
            EXPECT_EQ(q.flags[i], ULONG{GAA_FLAG_INCLUDE_PREFIX});
        }
        if (c.calls == 2) {
            EXPECT_TRUE(q.had_table[1]);
            EXPECT_EQ(q.sizes_offered[1], q.size);  // a buffer of the size it asked for
        }
    }
    current = nullptr;
}

TEST(winsock_adapters, a_table_that_grew_is_asked_for_again_with_its_new_size_a_bounded_number_of_times) {
    fake_table t;
    IP_ADAPTER_ADDRESSES* a = t.adapter(IfOperStatusUp);
    t.ipv4(a, 0x0100007F);
    using vorex_net::winsock::table_attempts;
    struct {
        int overflows;
        std::vector<std::uint32_t> expected;
    } cases[] = {{1, {0x0100007F}}, {table_attempts - 1, {0x0100007F}}, {table_attempts, {}}, {100, {}}};
    for (auto c : cases) {
        scripted_query q;
        q.overflows = c.overflows;
        q.size = sizeof(IP_ADAPTER_ADDRESSES);
        q.content = a;
        current = &q;
        EXPECT_EQ(vorex_net::winsock::up_ipv4_addresses(&fake_query), c.expected) << c.overflows;
        const std::size_t table_queries = static_cast<std::size_t>(std::min(c.overflows + 1, table_attempts));
        ASSERT_EQ(q.sizes_offered.size(), 1 + table_queries) << c.overflows;
        for (std::size_t i = 2; i < q.sizes_offered.size(); ++i)
            EXPECT_EQ(q.sizes_offered[i], q.sizes_offered[i - 1] + 64);  // each time the size it was told
    }
    current = nullptr;
}

struct ioctl_call {
    DWORD code;
    BOOL value;
};
std::vector<ioctl_call> ioctl_calls;
int ioctl_answer = 0;

int WSAAPI fake_ioctl(SOCKET, DWORD code, LPVOID in, DWORD in_size, LPVOID, DWORD, LPDWORD, LPWSAOVERLAPPED,
                      LPWSAOVERLAPPED_COMPLETION_ROUTINE) {
    BOOL value = TRUE;
    if (in_size == sizeof value) std::memcpy(&value, in, sizeof value);
    ioctl_calls.push_back({code, value});
    return ioctl_answer;
}

TEST(winsock_sockets, both_unreachable_reports_are_switched_off) {
    for (int answer : {0, SOCKET_ERROR}) {
        ioctl_calls.clear();
        ioctl_answer = answer;
        EXPECT_EQ(vorex_net::winsock::stop_unreachable_reports(SOCKET(7), &fake_ioctl), answer == 0);
        ASSERT_EQ(ioctl_calls.size(), 2u);  // the second is tried when the first fails
        EXPECT_EQ(ioctl_calls[0].code, DWORD(SIO_UDP_CONNRESET));
        EXPECT_EQ(ioctl_calls[1].code, DWORD(SIO_UDP_NETRESET));
        for (const ioctl_call& c : ioctl_calls) EXPECT_EQ(c.value, FALSE);
    }
}

int startup_answer = 0;
int startups = 0;
int cleanups = 0;
int WSAAPI fake_startup(WORD version, LPWSADATA) {
    EXPECT_EQ(version, MAKEWORD(2, 2));
    ++startups;
    return startup_answer;
}
int WSAAPI fake_cleanup() { return ++cleanups, 0; }

TEST(winsock_layer, only_successful_starts_are_cleaned_up_once_each) {
    vorex_net::winsock::layer_starts layer;
    startup_answer = WSASYSNOTREADY;
    EXPECT_FALSE(layer.start(&fake_startup));
    layer.stop(&fake_cleanup);
    EXPECT_EQ(cleanups, 0);  // the failed start is not undone
    startup_answer = 0;
    EXPECT_TRUE(layer.start(&fake_startup));
    EXPECT_TRUE(layer.start(&fake_startup));
    for (int i = 0; i < 3; ++i) layer.stop(&fake_cleanup);
    EXPECT_EQ(startups, 3);
    EXPECT_EQ(cleanups, 2);
}

}  // namespace
