#pragma once
// Helpers for the ROMFS suites: trees on disk, a build with its output captured, and the
// process state a build reads (current directory, environment).

#include "kestrellib/romfs/romfs_builder.h"
#include "platform/environment/environment.h"
#include "platform/files/files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace kestrel::test {

namespace fs = std::filesystem;

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadStream(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    return text;
}

// The root of an input directory as the builder names it: the directory, the host's path
// separator and ".".
inline std::string RootPath(const std::string& input) {
    return input + platform::kPathSeparator + '.';
}

// The host's text for why path cannot be examined, as the platform layer reports it (the text
// and error numbers differ between hosts).
inline std::string ExamineErrorText(const std::string& path) {
    platform::EntryStatus status;
    return platform::ErrorText(platform::ExamineFollowingLinks(path, &status));
}

struct BuildOutput {
    int status;
    std::string out;
    std::string err;
};

// One build with its output and error lines captured.
inline BuildOutput BuildImage(const fs::path& input, const fs::path& output,
                              std::uint32_t versionWord = 0, const std::string& name = "",
                              const romfs::BuildLimits& limits = {}) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    romfs::ImageRequest request{input.string(), output.string(), versionWord, name, limits};
    BuildOutput result;
    result.status = romfs::BuildRomfsImage(request, out, err);
    std::fflush(out);
    std::fflush(err);
    result.out = ReadStream(out);
    result.err = ReadStream(err);
    std::fclose(out);
    std::fclose(err);
    return result;
}

// Runs a test in another current directory (the builder's temporary files lie there).
class CurrentDirectory {
public:
    explicit CurrentDirectory(const fs::path& dir) : previous_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~CurrentDirectory() { fs::current_path(previous_); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    fs::path previous_;
};

// Sets (or, with nullopt, clears) an environment variable for a test's duration.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            previous_ = old;
        }
        Set(value);
    }
    ~ScopedEnv() { Set(previous_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value) {
            kestrel::platform::SetEnvironmentValue(name_, value->c_str());
        } else {
            kestrel::platform::ClearEnvironmentValue(name_);
        }
    }
    const char* name_;
    std::optional<std::string> previous_;
};

} // namespace kestrel::test
