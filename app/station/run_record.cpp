#include "app/station/run_record.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace kestrel::station {
namespace {

template <typename T>
std::string OrNull(const std::optional<T>& value) {
    return value ? std::to_string(*value) : "null";
}

std::string Pairs(const std::vector<std::pair<std::string, std::uint32_t>>& pairs) {
    std::string text = "{";
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        text += (i ? "," : "") + JsonString(pairs[i].first) + ":" + std::to_string(pairs[i].second);
    }
    return text + "}";
}

} // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x80) {
                // Control characters, and bytes of the 8-bit code page, which need not be UTF-8.
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string ToJsonLine(const RunRecord& r) {
    std::string line = "{\"time\":" + JsonString(r.time);
    line += ",\"version\":" + JsonString(r.version);
    line += ",\"mode\":" + std::to_string(r.mode);
    line += ",\"device\":" + std::to_string(r.device);
    line += ",\"devId\":" + JsonString(r.devId);
    line += ",\"port\":" + JsonString(r.port);
    if (r.geometry) {
        line += ",\"geometry\":{\"pageSize\":" + std::to_string(r.geometry->pageSize) +
                ",\"pagesPerBlock\":" + std::to_string(r.geometry->pagesPerBlock) +
                ",\"blockCount\":" + std::to_string(r.geometry->blockCount) + "}";
    } else {
        line += ",\"geometry\":null";
    }
    line += ",\"loaderLevel\":" + OrNull(r.loaderLevel);
    line += ",\"loaderClass\":" + OrNull(r.loaderClass);
    line += ",\"bootDeviceId\":" + OrNull(r.bootDeviceId);
    line += ",\"images\":[";
    for (std::size_t i = 0; i < r.images.size(); ++i) {
        const ImageDigest& image = r.images[i];
        line += (i ? "," : "") + std::string("{\"role\":") + JsonString(image.role) +
                ",\"path\":" + JsonString(image.path) + ",\"bytes\":" + OrNull(image.bytes) +
                ",\"sha256\":" + (image.sha256 ? JsonString(*image.sha256) : "null") + "}";
    }
    line += "],\"badBlocks\":" + Pairs(r.badBlocks);
    line += ",\"durationsMs\":" + Pairs(r.durationsMs);
    if (r.demo) {
        line += ",\"demo\":" + JsonString(*r.demo);
    }
    line += std::string(",\"result\":") + (r.ok        ? "\"ok\""
                                           : r.stopped ? "\"stopped\""
                                                       : "\"failed\"");
    if (r.verified) {
        line += std::string(",\"verified\":") + (*r.verified ? "true" : "false");
    }
    line += ",\"message\":" + JsonString(r.message);
    if (r.unitMs) {
        line += ",\"unitMs\":" + std::to_string(*r.unitMs);
    }
    if (r.shift) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.1f", r.shift->unitsPerHour);
        line += ",\"shift\":{\"start\":" + JsonString(r.shiftStart.value_or("")) +
                ",\"passed\":" + std::to_string(r.shift->passed) +
                ",\"failed\":" + std::to_string(r.shift->failed) + ",\"unitsPerHour\":" + rate +
                ",\"meanMs\":" + std::to_string(r.shift->meanMs) +
                ",\"slowestMs\":" + std::to_string(r.shift->slowestMs) +
                ",\"elapsedMs\":" + std::to_string(r.shift->elapsedMs) + "}";
    }
    return line + "}";
}

bool AppendRunRecords(const std::string& path, const std::vector<RunRecord>& records,
                      std::string& error) {
    std::string text;
    for (const RunRecord& record : records) {
        text += ToJsonLine(record) + "\n";
    }
    // One write of all lines, so a run's lines stay together in the file.
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (!out) {
        error = "can't open " + path;
        return false;
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
        error = "can't write " + path;
        return false;
    }
    return true;
}

namespace {

// The JSON string literal that starts at text[at] (its opening quote), unescaped as JsonString
// escapes; nullopt when it is not one.
std::optional<std::string> ParseJsonString(const std::string& text, std::size_t at) {
    if (at >= text.size() || text[at] != '"') {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'u':
            if (i + 4 >= text.size()) {
                return std::nullopt;
            }
            out +=
                static_cast<char>(std::strtol(text.substr(i + 1, 4).c_str(), nullptr, 16) & 0xFF);
            i += 4;
            break;
        default:
            out += text[i];
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> LastRecordedImage(const std::string& path, const std::string& devId,
                                             const std::string& role) {
    std::ifstream in(path, std::ios::binary);
    const std::string device = "\"devId\":" + JsonString(devId) + ",";
    const std::string image = "{\"role\":" + JsonString(role) + ",\"path\":";
    std::optional<std::string> found;
    for (std::string line; std::getline(in, line);) {
        if (line.find(device) == std::string::npos) {
            continue;
        }
        const std::size_t at = line.find(image);
        found = at == std::string::npos ? std::nullopt : ParseJsonString(line, at + image.size());
    }
    return found;
}

} // namespace kestrel::station
