// Interrupt requests: the first is only noted while a watch lives, the second ends the process
// as an unwatched one does. Each case runs in a child process, which the signals may end.
#include "platform/interrupt/interrupt.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct InterruptCase {
    const char* name;
    int signal;
    int requests;  // signals raised while the watch lives
    bool survives; // the child lives on after them
    friend void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.name; }
};

class Interrupts : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(Interrupts, FirstIsNotedSecondEndsTheProcess) {
    const InterruptCase& c = GetParam();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        bool before = true;
        bool after = false;
        {
            const kestrel::platform::InterruptWatch watch;
            before = watch.Requested();
            for (int i = 0; i < c.requests; ++i) {
                std::raise(c.signal);
            }
            after = watch.Requested();
        }
        _exit(!before && after == (c.requests > 0) ? 0 : 1);
    }
    int raw = 0;
    ASSERT_EQ(waitpid(pid, &raw, 0), pid);
    if (c.survives) {
        ASSERT_TRUE(WIFEXITED(raw)) << "ended by signal " << WTERMSIG(raw);
        EXPECT_EQ(WEXITSTATUS(raw), 0);
    } else {
        ASSERT_TRUE(WIFSIGNALED(raw));
        EXPECT_EQ(WTERMSIG(raw), c.signal);
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupts,
                         ::testing::Values(InterruptCase{"none", SIGINT, 0, true},
                                           InterruptCase{"one Ctrl-C", SIGINT, 1, true},
                                           InterruptCase{"one SIGTERM", SIGTERM, 1, true},
                                           InterruptCase{"two Ctrl-C", SIGINT, 2, false},
                                           InterruptCase{"two SIGTERM", SIGTERM, 2, false}));

// Once the watch is gone, the system's default holds again.
TEST(Interrupts, AfterTheWatchTheDefaultHolds) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        { const kestrel::platform::InterruptWatch watch; }
        std::raise(SIGINT);
        _exit(0);
    }
    int raw = 0;
    ASSERT_EQ(waitpid(pid, &raw, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(raw));
    EXPECT_EQ(WTERMSIG(raw), SIGINT);
}

} // namespace
