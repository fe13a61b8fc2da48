// Compression of transfer data through the external LZMA encoder. The library does not
// compress by itself: it writes the data to a file, runs the encoder on it and reads the output
// back. Any failure leaves the data as they were, and the transfer sends them uncompressed.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "library/commands/commands.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace {

constexpr const char* kEncoder = "lzma_alone";
// The encoder's own time; past it the encoder is ended and the data go uncompressed.
constexpr unsigned kEncoderLimitMs = 60000;

// Owns a C stream for the length of a scope.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool WriteFile(const std::string& path, const unsigned char* data, size_t length) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file)
        return false;
    bool written = std::fwrite(data, 1, length, file.get()) == length;
    return std::fclose(file.release()) == 0 && written;
}

}  // namespace

const char* EncoderName() {
    static const std::string name = [] {
        std::string beside = PlatformJoinPath(PlatformProgramDirectory(), kEncoder);
        std::error_code error;
        bool present =
            !PlatformProgramDirectory().empty() && std::filesystem::is_regular_file(beside, error);
        return present ? beside : std::string(kEncoder);
    }();
    return name.c_str();
}

int RunEncoder(const char* input, const char* output) {
    int exitCode = -1;
    ProcessOutcome outcome = PlatformRunProgram({EncoderName(), "e", input, output, "-lc0", "-lp2"},
                                                kEncoderLimitMs, &exitCode);
    return outcome == ProcessOutcome::kExited && exitCode == 0 ? 1 : 0;
}

int CompressData(unsigned char* data, int length, int* compressed, int capacity) {
    *compressed = length;
    if (length < 0 || capacity < 0)
        return UPG_ERR_FILE_NOT_OPEN;
    // A directory of our own: the fixed names inside it cannot be planted by anyone else, and
    // an output left by an earlier run cannot pass for this run's.
    PlatformPrivateDir dir;
    if (!dir.Create("upgrade-"))
        return UPG_ERR_FILE_NOT_OPEN;
    std::string input = dir.File("temp.in");
    std::string output = dir.File("temp.7z");
    if (!WriteFile(input, data, static_cast<size_t>(length)))
        return UPG_ERR_FILE_NOT_OPEN;
    if (RunEncoder(input.c_str(), output.c_str()) == 0)
        return COMPRESS_UNAVAILABLE;

    File file(std::fopen(output.c_str(), "rb"));
    if (!file)
        return UPG_ERR_FILE_NOT_OPEN;
    // One byte more than the room: an output that does not fit is seen without reading it all.
    std::vector<unsigned char> encoded(static_cast<size_t>(capacity) + 1);
    size_t n = std::fread(encoded.data(), 1, encoded.size(), file.get());
    if (n == 0)
        return UPG_ERR_READ_FILE_DATA;
    if (n > static_cast<size_t>(capacity))
        return COMPRESS_UNAVAILABLE;
    std::copy(encoded.begin(), encoded.begin() + static_cast<long>(n), data);
    *compressed = static_cast<int>(n);
    return UPG_OK;
}
