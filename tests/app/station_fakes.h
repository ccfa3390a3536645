#pragma once
// A view that records what the run shows, and a library table whose entries tests program.

#include "app/station/isp_page.h"
#include "app/station/station_library.h"
#include "app/station/station_view.h"

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::test {

struct RecordingView : station::StationView {
    std::array<std::string, station::kSlotCount> text;
    std::array<station::SlotPicture, station::kSlotCount> picture{};
    std::array<std::uint32_t, station::kSlotCount> range{};
    std::array<std::uint32_t, station::kSlotCount> position{};
    std::string log;
    std::vector<std::string> lines;
    bool ispEnabled = true;
    std::vector<bool> ispChanges;
    std::string title;

    void SetSlotText(int slot, std::string_view t) override { text.at(slot) = t; }
    void SetSlotPicture(int slot, station::SlotPicture p) override { picture.at(slot) = p; }
    void SetSlotRange(int slot, std::uint32_t total) override { range.at(slot) = total; }
    void SetSlotPosition(int slot, std::uint32_t pos) override { position.at(slot) = pos; }
    void AppendLog(std::string_view t) override {
        log += t;
        lines.emplace_back(t);
    }
    void SetIspEnabled(bool enabled) override {
        ispEnabled = enabled;
        ispChanges.push_back(enabled);
    }
    void SetTitle(std::string_view t) override { title = t; }
};

// Calls the library made, shared with the worker threads.
struct LibraryLog {
    std::mutex lock;
    std::vector<std::string> calls;
    std::atomic<int> surplus{0};

    void Add(std::string call) {
        std::lock_guard guard(lock);
        calls.push_back(std::move(call));
    }
    std::vector<std::string> Calls() {
        std::lock_guard guard(lock);
        return calls;
    }
    int Count(const std::string& call) {
        int n = 0;
        for (const auto& c : Calls()) {
            n += c == call ? 1 : 0;
        }
        return n;
    }
};

// A library of `devices` devices whose handles are 0x100 + index and whose DevIds are "DEV<i>".
inline station::StationLibrary FakeLibrary(LibraryLog& log, int devices) {
    station::StationLibrary lib;
    lib.initDeviceSet = [] {};
    lib.enumerateDevices = [] { return 1; };
    lib.deviceCount = [devices] { return devices; };
    lib.deviceHandle = [](int i) {
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x100 + i));
    };
    lib.deviceId = [](int i) { return "DEV" + std::to_string(i); };
    lib.getRedboot = [&log](IspJob& probe, const std::string& path, int& result) {
        log.Add("GetRedboot " + path);
        probe.loaderLevel = 2;
        probe.loaderClass = 1;
        result = 0;
        return path + ".img";
    };
    lib.isWriteRomFs = [](int which) { return which == 2 ? 0 : 1; };
    lib.isIniFileExist = [](const char*) { return 0; };
    lib.writeFw = [&log](IspJob* job) {
        log.Add("FW " + std::to_string(job->devIndex));
        return 0;
    };
    lib.writeRomfs = [&log](IspJob* job) {
        log.Add("ROM " + std::to_string(job->devIndex));
        return 0;
    };
    lib.initSurplus = [&log] {
        log.Add("InitSurplus");
        return 1;
    };
    lib.freeSurplus = [&log] { log.Add("FreeSurplus"); };
    lib.resetSurplus = [&log] {
        log.Add("ResetSurplus");
        log.surplus = 0;
    };
    lib.increaseSurplus = [&log] { ++log.surplus; };
    lib.decreaseSurplus = [&log] { --log.surplus; };
    lib.requestStop = [&log](bool stop) { log.Add(stop ? "Stop" : "Go"); };
    return lib;
}

} // namespace kestrel::test
