// Numbered still images of the converted frames in the temporary folder
// (BMP or JPEG), the progress lines they leave in the run log, and the
// clean-up of the temporary files.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/run_log.h"
#include "app/still_format.h"

namespace tessaly {

class JpegEncoder;

inline constexpr int kStillJpegQuality = 98;
// JPEG encoders kept for reuse between stills (one per writing thread is
// enough; each holds some 7 MB at 1104 x 1104).
inline constexpr size_t kMaxIdleEncoders = 8;
// A progress line is written when a format's log counter passes this.
inline constexpr int32_t kStillsPerProgressLine = 500;

// folder + "/" + "mono" + frame number (at least six digits) + ".jpg"/".bmp".
std::string StillFileName(const std::string& folder, int32_t frameNumber, StillFormat format);

// The 14-byte file header and 40-byte information header of a 32-bit,
// bottom-up, uncompressed BMP of width x height pixels.
std::array<uint8_t, 54> MakeBmpHeaders(int32_t width, int32_t height);

struct StillResult {
    bool ok = true;
    std::string message;  // why the still was not written, with its file name
    explicit operator bool() const { return ok; }
};

// One per conversion. Frames come as (bgrx, width, height): rows bottom-up,
// 4 bytes per pixel (B, G, R, unused), 4 * width bytes per row. Both writers
// may be called from several threads at once.
class StillWriter {
public:
    // `folder` is the temporary folder without a trailing separator; `log`
    // may be null (no progress lines).
    explicit StillWriter(std::string folder, RunLog* log = nullptr);
    ~StillWriter();
    StillWriter(const StillWriter&) = delete;
    StillWriter& operator=(const StillWriter&) = delete;

    const std::string& Folder() const { return folder_; }

    // A failed still is logged with its file name and reported; no torn file
    // is left behind.
    StillResult WriteStillBmp(int32_t frameNumber, const uint8_t* bgrx, int32_t width, int32_t height);
    StillResult WriteStillJpeg(int32_t frameNumber, const uint8_t* bgrx, int32_t width, int32_t height);

    // Deletes the stills ("mono" + digits, ".jpg" then ".bmp") and then
    // "temp.wav" from the folder, and nothing else; a missing folder or a
    // file that cannot be deleted is passed over.
    void DeleteTemporaryFiles();

    // Stills of a format written successfully so far.
    int32_t StillCount(StillFormat format) const;

private:
    struct Counters {
        int32_t logCounter = 0;  // stills since the last progress line
        int32_t handedIn = 0;    // stills of this format begun so far
        std::atomic<int32_t> written{0};
    };

    // Counts one still of a format and writes the progress line when due.
    void CountStill(StillFormat format);
    StillResult Failed(const std::string& path, const std::string& reason);
    std::unique_ptr<JpegEncoder> TakeEncoder();
    void ReturnEncoder(std::unique_ptr<JpegEncoder> encoder);

    std::string folder_;
    RunLog* log_;
    std::mutex countersMutex_;
    std::array<Counters, 2> counters_;  // BMP, JPEG
    Counters& CountersOf(StillFormat format) { return counters_[format == StillFormat::Jpeg ? 1 : 0]; }
    const Counters& CountersOf(StillFormat format) const { return counters_[format == StillFormat::Jpeg ? 1 : 0]; }
    std::mutex encodersMutex_;
    std::vector<std::unique_ptr<JpegEncoder>> idleEncoders_;  // reused, one per busy thread
};

}  // namespace tessaly
