// Shared fixtures: the library's lifetime, simulated sensors on loopback,
// sessions bound to them, and private network namespaces.
#ifndef VOREX_TEST_SUPPORT_H
#define VOREX_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/session_access.h"
#include "core/state.h"
#include "core/wire.h"
#include "sim/sensor_sim.h"
#include "vorex.h"

namespace vorex_test {

using vorex_sim::bytes;
using namespace std::chrono_literals;

// The socket timeout tests run with: every empty receive still counts as
// 100 ms toward a wait, it just takes less real time.
// 40 ms natively; the full 100 ms under wine, whose extra hops would
// otherwise turn a busy moment into a spurious empty receive.
extern const int test_timeout_ms;

constexpr std::uint32_t loopback = 0x0100007F;   // 127.0.0.1 as stored
constexpr std::uint32_t mask_8 = 0x000000FF;     // 255.0.0.0 as stored

// Address "a.b.c.d" in network byte order.
std::uint32_t ipv4(const char* dotted);

// Owns init/cleanup around each test and shortens the socket timeout. On
// the way out it checks that the test left no descriptor open.
class library_test : public ::testing::Test {
protected:
    library_test();
    ~library_test() override;

private:
    int descriptors_before_;
};

// A UDP port that is free right now on loopback.
std::uint16_t free_port();

// A device record for a sensor at ip:service_port whose profiles go to
// data_port.
vorex_device_info_t make_record(std::uint32_t serial, std::uint32_t ip, std::uint32_t mask,
                                std::uint16_t service_port, std::uint16_t data_port);

// A scripted sensor on 127.0.0.1: a recorded UDP socket whose answers the
// test writes, and a connected session pointing at it.
class scripted_test : public library_test {
protected:
    scripted_test();
    ~scripted_test() override;

    // Answers every datagram with what `script` returns (may be nothing).
    void script(std::function<std::vector<bytes>(const bytes& request, std::size_t index)> script);
    // Sends a datagram to the session's service socket.
    void push(const bytes& data);
    // The session's service socket address.
    vorex_net::endpoint host_service() const;
    // The datagrams the sensor received, once at least `expected` arrived
    // (or ten seconds passed) and a moment more for any extra to show up.
    std::vector<bytes> wire(std::size_t expected = 0) const;

    std::uint16_t& counter() { return vorex_session_access::counter(*session); }

    std::unique_ptr<vorex_sim::udp_endpoint> sensor;
    std::unique_ptr<vorex> session;
    static constexpr std::uint32_t serial = 0x01020304;
};

// A realistic simulated sensor on loopback and a connected session.
class sim_test : public library_test {
protected:
    explicit sim_test(vorex_sim::device_config config = {});
    ~sim_test() override;

    std::unique_ptr<vorex_sim::sensor_sim> sim;
    std::unique_ptr<vorex> session;
};

// A new, empty directory under the system's temporary directory whose name
// starts with `prefix`; empty when none can be made.
std::string make_temp_directory(const std::string& prefix);

// A reply header for `request`: its serial, counter and command, the given
// flags and payload.
bytes reply_for(const bytes& request, std::uint8_t flags, const bytes& payload = {});
bytes header_bytes(std::uint8_t flags, std::uint32_t serial, std::uint16_t counter, std::uint8_t command_class,
                   std::uint8_t command_code, std::uint16_t payload_length);

// Number of open file descriptors of this process (on Windows: of bound
// sockets).
int open_descriptors();
// Fails the running test when the process holds another number of open
// descriptors than `before` (taken with open_descriptors() at its start).
// The one place that knows how descriptors are counted on this platform.
void expect_descriptors_as_before(int before);
// The number the next descriptor would get (a limit on descriptors is a
// limit on that number). Linux only.
int lowest_free_descriptor();

// Moves the calling thread (and the threads it starts later) into a fresh
// network namespace and runs the shell commands there (`ip ...`). Fails the
// test when that is not possible: discovery broadcasts must never leave
// the private namespace. Returns false on failure.
// A Windows program cannot make a namespace: under wine the test runs in
// one that scripts/ci-windows.sh made, and this resets it to a fresh
// namespace's state before running the commands.
bool enter_private_network(const std::vector<std::string>& commands);
// Setup for enter_private_network: lo up and a veth pair whose ends are two
// adapters, 198.18.0.1/24 on v0 and 198.18.1.1/24 on v1 (three addresses
// with 127.0.0.1).
const std::vector<std::string>& two_veth_adapters();
// Runs one more shell command in the private network; false (and a test
// failure) when it fails.
bool network_command(const std::string& command);
// Links come up asynchronously (carrier detection): waits until at least
// `count` IPv4 addresses sit on operationally up adapters.
bool wait_for_adapters(std::size_t count);

}  // namespace vorex_test

#endif
