// Waits under a periodic signal, as profilers and runtimes with timer
// signals deliver them. Linux ends a receive that has a timeout with EINTR
// even under SA_RESTART; a wait that then started its timeout afresh would
// never end while the signal keeps coming faster than the timeout.
#include <signal.h>
#include <sys/time.h>

#include <atomic>

#include "support/test_support.h"

namespace vorex_test {
namespace {

std::atomic<int> alarms{0};
void count_alarm(int) { alarms.fetch_add(1, std::memory_order_relaxed); }

// SIGALRM every `period_ms` for as long as it lives.
class periodic_signal {
public:
    explicit periodic_signal(int period_ms) {
        struct sigaction action {};
        action.sa_handler = count_alarm;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, &previous_);
        const timeval period{0, period_ms * 1000};
        const itimerval timer{period, period};
        setitimer(ITIMER_REAL, &timer, nullptr);
    }
    ~periodic_signal() {
        const itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &previous_, nullptr);
    }

private:
    struct sigaction previous_ {};
};

// Four signals to every receive timeout.
const int signal_period_ms = test_timeout_ms / 4;

class signal_test : public scripted_test {};

TEST_F(signal_test, get_result_with_nothing_queued_ends_after_one_timeout) {
    vorex_profile profile;
    alarms = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        periodic_signal signal(signal_period_ms);
        EXPECT_FALSE(session->get_result(profile));
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(alarms.load(), 2);  // the receive was interrupted
    EXPECT_GE(took, std::chrono::milliseconds(test_timeout_ms));  // and still waited its whole timeout
    // A fresh timeout after every signal would never have ended at all.
    EXPECT_LT(took, std::chrono::milliseconds(50 * test_timeout_ms));
}

TEST_F(signal_test, group_read_from_a_silent_sensor_ends_after_its_limit_with_every_resend) {
    const std::uint16_t before = counter();
    vorex_general_params_t general;
    alarms = 0;
    {
        periodic_signal signal(signal_period_ms);
        EXPECT_FALSE(session->read_general_params(&general));
    }
    EXPECT_GE(alarms.load(), 30);
    EXPECT_STREQ(session->error_msg(), "No error");
    EXPECT_EQ(counter(), before);
    // 30 empty receives: the request and six resends, no more and no fewer.
    const bytes request = header_bytes(0x1C, serial, before, 0x5E, 0x01, 0);
    EXPECT_EQ(wire(7), std::vector<bytes>(7, request));
}

class answering_signal_test : public sim_test {};

TEST_F(answering_signal_test, answers_are_taken_as_without_signals) {
    vorex_laser_params_t laser;
    vorex_user_params_t block;
    periodic_signal signal(signal_period_ms);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(session->read_laser_params(&laser)) << i;
        ASSERT_TRUE(session->read_params(&block)) << i;
        EXPECT_EQ(std::memcmp(&laser, &block.laser, sizeof laser), 0);
    }
}

}  // namespace
}  // namespace vorex_test
