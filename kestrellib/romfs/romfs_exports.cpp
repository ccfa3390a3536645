#include "kestrellib/romfs/romfs_exports.h"

#include "kestrellib/program/config_files.h"
#include "kestrellib/romfs/build_log.h"
#include "kestrellib/romfs/romfs_builder.h"
#include "kestrellib/romfs/temporary_file.h"

#include "outside/scrivet/scrivet.h"
#include "platform/files/files.h"

#include <cstdio>
#include <exception>
#include <mutex>
#include <new>
#include <string>

using namespace kestrel;
using namespace kestrel::romfs;

namespace {

// The builder's temporary files lie in the current directory and its lines share the output
// streams: builds take turns.
std::mutex& BuildLock() {
    static std::mutex lock;
    return lock;
}

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

constexpr const char* kEncodeTempName = "tmp.ing";
constexpr int kEncodeBlockSize = 2048;
constexpr int kEncodeKey = 5;

int BuildOne(const char* inputDir, const char* outputPath, unsigned int versionWord,
             const char* volumeName) {
    ImageRequest request;
    request.inputDir = Text(inputDir);
    request.outputPath = Text(outputPath);
    request.versionWord = versionWord;
    request.volumeName = Text(volumeName);
    return BuildRomfsImage(request, stdout, stderr);
}

// The second resource image: built into "tmp.ing", encoded into its output.
void BuildEncoded(const std::string& inputDir, const std::string& outputPath,
                  unsigned int versionWord, const char* volumeName, const BuildLog& log) {
    TemporaryFile plain(kEncodeTempName);
    if (const int status = BuildOne(inputDir.c_str(), kEncodeTempName, versionWord, volumeName);
        status != kBuildOk) {
        throw BuildFailure{status};
    }
    TemporaryFile encoded(PartialPath(outputPath));
    if (config::Read(config::isp::kWrapFlag) != 0) {
        EncodeFuncWithSkip(kEncodeTempName, encoded.Path().c_str(), kEncodeKey);
    } else {
        EncodeFunc(kEncodeTempName, encoded.Path().c_str(), kEncodeBlockSize, kEncodeKey);
    }
    if (!platform::RegularFileExists(encoded.Path())) {
        log.Fatal(kBuildOutputError, "Encoding failed: '%s' was not written\n", outputPath.c_str());
    }
    encoded.MoveTo(outputPath, log);
}

int BuildSecondImage(const char* volumeName) {
    const BuildLog log(stdout, stderr);
    try {
        const std::string inputDir =
            config::HomePath(config::Read(config::isp::kWrapRomFs1InputDir));
        const std::string outputPath =
            config::HomePath(config::Read(config::isp::kWrapRomFs1OutPutName));
        const auto versionWord = static_cast<unsigned int>(config::Read(config::isp::kWrapVersion));
        if (inputDir.empty()) {
            log.Fatal(kBuildInputError, "[WrapImage] RomFs1InputDir is empty: refusing to pack "
                                        "the root of the drive\n");
        }
        if (outputPath.empty()) {
            log.Fatal(kBuildOutputError, "[WrapImage] RomFs1OutPutName is empty\n");
        }
        if (config::Read(config::isp::kRomfs1Encryption) != 0) {
            BuildEncoded(inputDir, outputPath, versionWord, volumeName, log);
            return kBuildOk;
        }
        return BuildOne(inputDir.c_str(), outputPath.c_str(), versionWord, volumeName);
    } catch (const BuildFailure& failure) {
        return failure.status;
    } catch (const std::bad_alloc&) {
        log.Message("Out of memory\n");
        return kBuildOutOfMemory;
    } catch (const std::exception& e) {
        log.Message("Internal error: %s\n", e.what());
        return kBuildInternalError;
    }
}

} // namespace

KESTREL_EXPORT int mk_romfs(const char* inputDir, const char* outputPath, unsigned int versionWord,
                            const char* volumeName) {
    const std::lock_guard<std::mutex> hold(BuildLock());
    return BuildOne(inputDir, outputPath, versionWord, volumeName);
}

KESTREL_EXPORT int mk_romfs_ex(RomfsBuildRequest* request) {
    const std::lock_guard<std::mutex> hold(BuildLock());
    if (request == nullptr) {
        std::fputs("No build request given\n", stderr);
        return kBuildInputError;
    }
    if (const int status = BuildOne(request->inputDir, request->outputFile, request->versionWord,
                                    request->volumeName);
        status != kBuildOk) {
        return status;
    }
    if (config::Read(config::isp::kWrapEnable) == 0) {
        return kBuildOk;
    }
    return BuildSecondImage(request->volumeName);
}
