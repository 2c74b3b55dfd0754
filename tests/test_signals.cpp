// Waits under a periodic signal, as profilers and runtimes with timer
// signals deliver them. Linux ends a receive that has a timeout with EINTR
// even under SA_RESTART; a wait that then started its timeout afresh would
// never end while the signal keeps coming faster than the timeout.
//
// Each call runs in a forked child that has only the calling thread, so the
// signal interrupts the library's own wait and nothing else (qemu-i386
// mishandles threads that signals interrupt); the child reports what it saw
// through a pipe and leaves without running any destructor.
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "support/test_support.h"

namespace vorex_test {
namespace {

volatile sig_atomic_t alarms = 0;
void count_alarm(int) { alarms = alarms + 1; }

// What the child saw.
struct outcome {
    int ok = -1;
    int alarms = 0;
    long long took_ms = 0;
};

// Runs `call` in a child process under SIGALRM every `period_ms`.
template <typename F>
outcome under_periodic_signal(int period_ms, F call) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        struct sigaction action {};
        action.sa_handler = count_alarm;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, nullptr);
        const timeval period{0, period_ms * 1000};
        const itimerval timer{period, period};
        setitimer(ITIMER_REAL, &timer, nullptr);
        const auto start = std::chrono::steady_clock::now();
        outcome o;
        o.ok = call() ? 1 : 0;
        o.took_ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                        .count();
        const itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        o.alarms = alarms;
        const bool written = ::write(pipe_fds[1], &o, sizeof o) == static_cast<ssize_t>(sizeof o);
        ::_exit(written ? 0 : 1);
    }
    ::close(pipe_fds[1]);
    outcome o;
    const bool read_whole = child > 0 && ::read(pipe_fds[0], &o, sizeof o) == static_cast<ssize_t>(sizeof o);
    ::close(pipe_fds[0]);
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    EXPECT_TRUE(read_whole && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child did not report";
    return o;
}

// Four signals to every receive timeout.
const int signal_period_ms = test_timeout_ms / 4;

// ThreadSanitizer defers a signal to its own safe points, so how many
// reached the handler during a call tells nothing there.
#if defined(__SANITIZE_THREAD__)
constexpr bool signals_counted = false;
#else
constexpr bool signals_counted = true;
#endif

class signal_test : public scripted_test {};

TEST_F(signal_test, get_result_with_nothing_queued_ends_after_one_timeout) {
    const outcome o = under_periodic_signal(signal_period_ms, [this] {
        vorex_profile profile;
        return session->get_result(profile);
    });
    EXPECT_EQ(o.ok, 0);
    if (signals_counted) {
        EXPECT_GE(o.alarms, 2);  // the receive was interrupted
    }
    EXPECT_GE(o.took_ms, test_timeout_ms);  // and still waited its whole timeout
    // A fresh timeout after every signal would never have ended at all.
    EXPECT_LT(o.took_ms, 50 * test_timeout_ms);
}

TEST_F(signal_test, group_read_from_a_silent_sensor_ends_after_its_limit_with_every_resend) {
    const std::uint16_t before = counter();
    const outcome o = under_periodic_signal(signal_period_ms, [this, before] {
        vorex_general_params_t general;
        // The counter and the text live in the child: report them by the result.
        const bool ok = session->read_general_params(&general);
        return !ok && counter() == before && std::strcmp(session->error_msg(), "No error") == 0;
    });
    EXPECT_EQ(o.ok, 1) << "the read succeeded, moved the counter or changed the text";
    if (signals_counted) {
        EXPECT_GE(o.alarms, 30);
    }
    // 30 empty receives: the request and six resends, no more and no fewer.
    const bytes request = header_bytes(0x1C, serial, before, 0x5E, 0x01, 0);
    EXPECT_EQ(wire(7), std::vector<bytes>(7, request));
}

class answering_signal_test : public sim_test {};

TEST_F(answering_signal_test, answers_are_taken_as_without_signals) {
    const outcome o = under_periodic_signal(signal_period_ms, [this] {
        vorex_laser_params_t laser;
        vorex_user_params_t block;
        for (int i = 0; i < 5; ++i) {
            if (!session->read_laser_params(&laser) || !session->read_params(&block)) return false;
            if (std::memcmp(&laser, &block.laser, sizeof laser) != 0) return false;
        }
        return true;
    });
    EXPECT_EQ(o.ok, 1);
}

}  // namespace
}  // namespace vorex_test
