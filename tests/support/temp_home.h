#pragma once
// A fresh, empty module directory for one test: KESTREL_HOME points at a new temporary folder
// for the test's duration, so the INI files and other files beside the program are the test's.

#include "platform/environment/environment.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace kestrel::test {

class TempHome {
public:
    TempHome() {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() /
               ("kestrel-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        if (const char* old = std::getenv("KESTREL_HOME")) {
            previous_ = old;
            hadPrevious_ = true;
        }
        platform::SetEnvironmentValue("KESTREL_HOME", dir_.string());
    }
    ~TempHome() {
        if (hadPrevious_) {
            platform::SetEnvironmentValue("KESTREL_HOME", previous_);
        } else {
            platform::ClearEnvironmentValue("KESTREL_HOME");
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    void WriteFile(const std::string& name, const std::string& bytes) const {
        std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    std::string ReadFile(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // A text file the product wrote in text mode, with its line ends read as "\n": Windows text
    // files end their lines with "\r\n", which is left as it is everywhere else.
    std::string ReadText(const std::string& name) const {
        std::string text = ReadFile(name);
#if defined(_WIN32)
        std::string::size_type to = 0;
        for (std::string::size_type from = 0; from < text.size(); ++from) {
            if (!(text[from] == '\r' && from + 1 < text.size() && text[from + 1] == '\n')) {
                text[to++] = text[from];
            }
        }
        text.resize(to);
#endif
        return text;
    }

private:
    std::filesystem::path dir_;
    std::string previous_;
    bool hadPrevious_ = false;
};

} // namespace kestrel::test
