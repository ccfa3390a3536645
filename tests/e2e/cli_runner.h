#pragma once
// Running kestrel-cli from a test: the program at KESTREL_CLI_PATH with the arguments, its
// output streams captured in files of the test's home directory, waits made instant so that
// retries cost no time.

#include "support/temp_home.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace kestrel::test {

struct CliResult {
    int status;
    std::string out;
    std::string err;
};

// sleepScale "0" makes every wait instant; "1" runs in real time.
inline CliResult RunCli(const TempHome& home, const std::string& args,
                        const std::string& sleepScale = "0") {
    const std::string out = home.Path("out.txt"), err = home.Path("err.txt");
    const std::string command = std::string(KESTREL_CLI_PATH) + " --sleep-scale " + sleepScale +
                                " " + args + " > " + out + " 2> " + err;
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, home.ReadFile("out.txt"),
            home.ReadFile("err.txt")};
}

// Occurrences of what in text.
inline std::size_t CountOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

} // namespace kestrel::test
