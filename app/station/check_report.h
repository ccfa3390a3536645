#pragma once
// The findings of a check, one line each: "ok" for what was found sound, "FAILED" for what would
// make a run fail, "note" for what a run would do that the operator may not expect but that is
// not a fault. A check passes when it found no failure. The lines go to a stream (the standard
// output of kestrel-cli) or to a function (the log of a run that checks its workspace first).

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace kestrel::station {

class CheckReport {
public:
    // line receives each finding without a line break.
    using LineSink = std::function<void(const std::string& line)>;

    explicit CheckReport(std::FILE* out = stdout) : out_(out) {}
    explicit CheckReport(LineSink sink) : out_(nullptr), sink_(std::move(sink)) {}

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
        if (sink_) {
            sink_(mark + text);
        } else if (out_ != nullptr) {
            std::fprintf(out_, "%s%s\n", mark, text.c_str());
        }
    }

    std::FILE* out_;
    LineSink sink_;
    int failures_ = 0;
};

// "0x" and eight upper-case hexadecimal digits.
std::string Hex32(std::uint32_t value);

} // namespace kestrel::station
