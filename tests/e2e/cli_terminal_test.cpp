// kestrel-cli isp as the operator sees it on a terminal: the program runs in a pseudo-terminal
// of the test, and its output is replayed through a small model of a terminal (lines, line feed,
// carriage return, cursor up, clear to the end of the screen) to see what stays on screen.
// Also Ctrl-C typed at that terminal, and a run with a demo copy.

#include "cli_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using kestrel::test::CountOf;

struct PtyResult {
    bool exited = false;
    int status = -1;
    int signal = 0;
    std::string output;
};

// Runs kestrel-cli with args in a new pseudo-terminal of rows x columns. Whenever output comes,
// `type` is given all output so far and returns what to type at the terminal ("" for nothing).
PtyResult RunInPty(const std::vector<std::string>& args, unsigned short rows,
                   unsigned short columns,
                   const std::function<std::string(const std::string&)>& type = {}) {
    winsize size{rows, columns, 0, 0};
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(KESTREL_CLI_PATH)};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(KESTREL_CLI_PATH, argv.data());
        _exit(127);
    }
    PtyResult result;
    if (pid < 0) {
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{terminal, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        const ssize_t n = read(terminal, buffer, sizeof buffer);
        if (n <= 0) {
            break; // the program has ended and closed its side
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
        if (type) {
            const std::string typed = type(result.output);
            if (!typed.empty() && write(terminal, typed.data(), typed.size()) < 0) {
                break;
            }
        }
    }
    if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid, SIGKILL);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    close(terminal);
    result.exited = WIFEXITED(raw);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    return result;
}

// What a terminal tall enough for the whole output keeps of it.
std::vector<std::string> Screen(const std::string& output) {
    std::vector<std::string> lines{""};
    std::size_t row = 0;
    std::size_t column = 0;
    for (std::size_t i = 0; i < output.size(); ++i) {
        const char c = output[i];
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            ++row;
            if (row == lines.size()) {
                lines.emplace_back();
            }
        } else if (c == '\x1b' && i + 1 < output.size() && output[i + 1] == '[') {
            std::size_t j = i + 2;
            int n = 0;
            while (j < output.size() && std::isdigit(static_cast<unsigned char>(output[j]))) {
                n = n * 10 + (output[j] - '0');
                ++j;
            }
            if (j >= output.size()) {
                break;
            }
            if (output[j] == 'F') { // up n lines, to their start
                row -= std::min<std::size_t>(row, static_cast<std::size_t>(std::max(n, 1)));
                column = 0;
            } else if (output[j] == 'J') { // clear to the end of the screen
                lines[row].resize(std::min(column, lines[row].size()));
                lines.resize(row + 1);
            }
            i = j;
        } else {
            std::string& line = lines[row];
            if (column < line.size()) {
                line[column] = c;
            } else {
                line.append(column - line.size(), ' ');
                line.push_back(c);
            }
            ++column;
        }
    }
    return lines;
}

std::size_t LinesEqualTo(const std::vector<std::string>& lines, const std::string& text) {
    std::size_t n = 0;
    for (const std::string& line : lines) {
        n += line == text ? 1 : 0;
    }
    return n;
}

class CliTerminal : public ::testing::Test {
protected:
    CliTerminal() { kestrel::test::RunCli(home, "demo-workspace " + Home()); }

    std::string Home() const { return home.Dir().string(); }

    std::vector<std::string> IspArgs(const std::string& farm, bool instant) {
        home.WriteFile("farm.ini", farm);
        std::vector<std::string> args;
        if (instant) {
            args = {"--sleep-scale", "0"};
        }
        for (const char* a : {"--home", "", "--sim-config", "", "isp"}) {
            args.emplace_back(a);
        }
        args[args.size() - 4] = Home();
        args[args.size() - 2] = home.Path("farm.ini");
        return args;
    }

    kestrel::test::TempHome home;
};

constexpr const char* kThreeDevicesOneFailing = "[device]\nlatency = zero\n"
                                                "[device]\nlatency = zero\nfail = 13:always:31:40\n"
                                                "[device]\nlatency = zero\n";

// Log lines and error lines stay whole on screen while the bars are redrawn below them, and the
// bars are gone when the summary comes. The failing device's bar says FAILED with its message.
TEST_F(CliTerminal, NoLineIsOverwrittenByARedraw) {
    const PtyResult r = RunInPty(IspArgs(kThreeDevicesOneFailing, true), 40, 160);
    ASSERT_TRUE(r.exited) << r.output;
    EXPECT_NE(r.output.find("Dev0  ["), std::string::npos) << "no bar was drawn";
    const std::vector<std::string> screen = Screen(r.output);
    for (int d = 0; d < 3; ++d) {
        EXPECT_EQ(LinesEqualTo(screen, "Device:" + std::to_string(d) + " ==> Begin write FW."), 1u)
            << r.output;
    }
    const std::regex bar("^Dev[0-9]+ +\\[");
    std::size_t errors = 0;
    bool summary = false;
    for (const std::string& line : screen) {
        summary = summary || line.rfind("Dev  Result", 0) == 0;
        if (summary) {
            break; // the summary quotes messages in its last column
        }
        EXPECT_FALSE(std::regex_search(line, bar)) << "a bar stayed: " << line;
        const std::size_t at = line.find("Device");
        EXPECT_TRUE(at == std::string::npos || at == 0) << "a line was overwritten: " << line;
        errors += line.rfind("Device1-->", 0) == 0 ? 1 : 0;
    }
    EXPECT_GT(errors, 0u) << "the failing device raised no box";
    // The last drawing of the bars, before the summary, shows the failed device as such.
    const std::size_t last = r.output.rfind("Dev1  [");
    ASSERT_NE(last, std::string::npos);
    const std::string failedBar = r.output.substr(last, r.output.find('\n', last) - last);
    EXPECT_NE(failedBar.find("FAILED"), std::string::npos) << failedBar;
    EXPECT_NE(failedBar.find("Device1-->"), std::string::npos) << failedBar;
    EXPECT_EQ(failedBar.find("Done"), std::string::npos) << failedBar;
}

// A terminal too short for the bars gets the log as plain lines, without cursor movements.
TEST_F(CliTerminal, ShortTerminalGetsPlainLines) {
    const PtyResult r = RunInPty(IspArgs(kThreeDevicesOneFailing, true), 6, 120);
    ASSERT_TRUE(r.exited) << r.output;
    EXPECT_EQ(r.output.find("\x1b["), std::string::npos) << r.output;
    EXPECT_EQ(CountOf(r.output, "Device:0 ==> Begin write FW."), 1u) << r.output;
    EXPECT_EQ(CountOf(r.output, "Dev0  ["), 0u) << r.output;
}

// Ctrl-C mid-run: every device stops at its next safe point, then the summary and a complete
// record line per device follow, and the exit status says stopped. The devices program in
// real time here, so that the run is still under way when Ctrl-C comes.
TEST_F(CliTerminal, CtrlCStopsTheRunSafely) {
    bool typed = false;
    const PtyResult r =
        RunInPty(IspArgs("[device]\n[device]\n", false), 40, 160, [&](const std::string& output) {
            if (!typed && CountOf(output, "Begin write FW.") == 2) {
                typed = true;
                return std::string("\x03");
            }
            return std::string();
        });
    ASSERT_TRUE(typed) << r.output;
    ASSERT_TRUE(r.exited) << "signal " << r.signal << "\n" << r.output;
    EXPECT_EQ(r.status, 5) << r.output;
    EXPECT_NE(r.output.find("stopping..."), std::string::npos) << r.output;
    std::size_t stopped = 0;
    for (const std::string& line : Screen(r.output)) {
        stopped += line.find("STOPPED") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(stopped, 2u) << r.output; // the summary's lines; the bars are gone
    const std::string record = home.ReadFile("isp-runs.jsonl");
    std::istringstream lines(record);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_EQ(line.front(), '{') << line;
        EXPECT_EQ(line.back(), '}') << line;
        EXPECT_NE(line.find("\"result\":\"stopped\""), std::string::npos) << line;
    }
    EXPECT_EQ(count, 2u) << record;
    EXPECT_EQ(record.back(), '\n');
}

// With a demo copy in isp.ini the command waits for the copy, shows its lines and records
// each drive's result with its device.
TEST_F(CliTerminal, ADemoCopyIsAwaitedShownAndRecorded) {
    std::filesystem::create_directories(home.Dir() / "demo" / "sub");
    home.WriteFile("demo/a.txt", "demo file a\n");
    home.WriteFile("demo/sub/b.txt", "demo file b\n");
    std::string ini = home.ReadFile("isp.ini");
    const std::string section = "[Burn-D]\nDir=\n";
    const std::size_t at = ini.find(section);
    ASSERT_NE(at, std::string::npos) << ini;
    ini.replace(at, section.size(), "[Burn-D]\nDir=" + home.Path("demo") + "\n");
    const std::size_t enable = ini.find("enable=0", at);
    ASSERT_NE(enable, std::string::npos);
    ini.replace(enable, 8, "enable=1");
    home.WriteFile("isp.ini", ini);
    home.WriteFile("farm.ini", "[device]\nlatency = zero\n[device]\nlatency = zero\n");
    const kestrel::test::CliResult r = kestrel::test::RunCli(
        home, "--home " + Home() + " --sim-config " + home.Path("farm.ini") + " isp --quiet");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(CountOf(r.out, "Begin copy demo file."), 2u) << r.out;
    EXPECT_EQ(CountOf(r.out, "copy demo is success."), 2u) << r.out;
    const std::string record = home.ReadFile("isp-runs.jsonl");
    EXPECT_EQ(CountOf(record, "\"demo\":\"ok\""), 2u) << record;
    EXPECT_EQ(CountOf(record, "\"demo\":"), 4u) << record; // the result and its duration
    std::size_t copies = 0;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(home.Dir() / "sim-drives")) {
        copies += entry.path().filename() == "b.txt" ? 1 : 0;
    }
    EXPECT_EQ(copies, 2u);
}

} // namespace
