#include "bench/soak/soak_verdict.h"

#include "bench/soak/soak_plan.h"

#include <array>
#include <optional>

namespace kestrel::soak {
namespace {

// The value of a string field of one JSON line, unescaped as far as the run record escapes
// ("\\", "\"", "\n", "\t", "\uXXXX" kept as written); nullopt when the field is missing.
std::optional<std::string> StringField(std::string_view line, std::string_view name) {
    const std::string key = "\"" + std::string(name) + "\":\"";
    const auto at = line.find(key);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::string value;
    for (std::size_t i = at + key.size(); i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            return value;
        }
        if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            value += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'u' ? '?' : next;
            if (next == 'u') {
                i += 4;
            }
            continue;
        }
        value += c;
    }
    return std::nullopt; // unterminated
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return lines;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string FirstLine(std::string_view text) {
    const auto lines = Lines(text);
    return lines.empty() ? std::string() : std::string(lines.front());
}

} // namespace

std::string_view OutcomeName(Outcome outcome) {
    static constexpr std::array<std::string_view, kOutcomeCount> kNames = {
        "verified",
        "failed with a message",
        "failed without a message",
        "reported ok but wrong or unreadable",
        "hang",
        "crash"};
    return kNames[static_cast<std::size_t>(outcome)];
}

std::vector<UnitVerdict> Judge(const RunEnd& end, int units) {
    std::vector<UnitVerdict> verdicts(static_cast<std::size_t>(units));
    if (end.how != RunEnd::How::kExited) {
        const bool hung = end.how == RunEnd::How::kTimedOut;
        for (UnitVerdict& v : verdicts) {
            v.outcome = hung ? Outcome::kHang : Outcome::kCrash;
            v.detail = hung ? "the run did not end" : "the run's process died";
        }
        return verdicts;
    }
    const auto recordLines = Lines(end.record);
    const auto outLines = Lines(end.out);
    for (int i = 0; i < units; ++i) {
        UnitVerdict& v = verdicts[static_cast<std::size_t>(i)];
        const std::string port = "&" + UnitPort(i) + "&";
        // The last record of the unit counts: a device that came back is programmed again.
        std::optional<std::string_view> record;
        for (const std::string_view line : recordLines) {
            const auto recorded = StringField(line, "port");
            if (recorded && recorded->find(port) != std::string::npos) {
                record = line;
            }
        }
        if (!record) {
            // A run refused before any device (no boot image for the hardware, say) says so on
            // standard error; otherwise the unit went unreported.
            const std::string said = FirstLine(end.err);
            v.outcome = said.empty() ? Outcome::kFailedSilently : Outcome::kFailedWithMessage;
            v.detail = said.empty() ? "no run record" : said;
            continue;
        }
        const auto result = StringField(*record, "result");
        const std::string message = StringField(*record, "message").value_or("");
        if (result != "ok") {
            v.outcome = message.empty() ? Outcome::kFailedSilently : Outcome::kFailedWithMessage;
            v.detail = message;
            continue;
        }
        // Reported ok: the read-back line of the same port decides.
        v.outcome = Outcome::kOkButWrong;
        v.detail = "no read-back line";
        for (const std::string_view line : outLines) {
            const auto open = line.find(", port ");
            const auto close = line.find("):");
            if (line.rfind("Device ", 0) != 0 || open == std::string_view::npos ||
                close == std::string_view::npos || close < open ||
                (std::string(line.substr(open + 7, close - open - 7)) + "&").find(port) ==
                    std::string::npos) {
                continue;
            }
            v.detail = std::string(line);
            v.outcome = EndsWith(line, "-> VERIFIED") ? Outcome::kVerified : Outcome::kOkButWrong;
        }
    }
    return verdicts;
}

} // namespace kestrel::soak
