#pragma once
// The findings of a check, one line each on the standard output: "ok" for what was found sound,
// "FAILED" for what would make a run fail, "note" for what a run would do that the operator may
// not expect but that is not a fault. A check passes when it found no failure.

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrel::cli {

class CheckReport {
public:
    explicit CheckReport(std::FILE* out = stdout) : out_(out) {}

    void Ok(const std::string& text) { Line("ok     ", text); }
    void Failed(const std::string& text) {
        ++failures_;
        Line("FAILED ", text);
    }
    void Note(const std::string& text) { Line("note   ", text); }
    // An indented detail of the line before (a block of an image, a record of a package).
    void Detail(const std::string& text) { Line("         ", text); }

    int Failures() const { return failures_; }

private:
    void Line(const char* mark, const std::string& text) {
        std::fprintf(out_, "%s%s\n", mark, text.c_str());
    }

    std::FILE* out_;
    int failures_ = 0;
};

// "0x" and eight upper-case hexadecimal digits.
std::string Hex32(std::uint32_t value);

} // namespace kestrel::cli
