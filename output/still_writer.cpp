#include "output/still_writer.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/still_names.h"
#include "output/file_write.h"
#include "output/jpeg_encoder.h"

namespace tessaly {

namespace {

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
    PutLe16(p, v & 0xFFFF);
    PutLe16(p + 2, v >> 16);
}

// Only the files a conversion writes: the numbered stills and the extracted
// sound "temp.wav".
bool IsTemporaryFileName(const std::string& name, const char* extension) {
    if (std::string_view(extension) == ".wav") return name == "temp.wav";
    return IsStillFileName(name, extension);
}

// Bytes of 32-bit pixel data, or 0 when the frame is unusable or its BMP
// size would not fit the 32-bit file-size field.
uint64_t FrameBytes(const uint8_t* bgrx, int32_t width, int32_t height) {
    if (bgrx == nullptr || width < 1 || height < 1) return 0;
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
    return bytes + 54 > 0xFFFFFFFFull ? 0 : bytes;
}

}  // namespace

std::string StillFileName(const std::string& folder, int32_t frameNumber, StillFormat format) {
    char number[16];
    std::snprintf(number, sizeof number, "%06d", static_cast<int>(frameNumber));
    return folder + "/" + "mono" + number + (format == StillFormat::Jpeg ? ".jpg" : ".bmp");
}

std::array<uint8_t, 54> MakeBmpHeaders(int32_t width, int32_t height) {
    std::array<uint8_t, 54> h{};
    const uint64_t fileSize = 54 + static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
    h[0] = 'B';
    h[1] = 'M';
    PutLe32(&h[2], static_cast<uint32_t>(fileSize));
    PutLe32(&h[10], 54);
    PutLe32(&h[14], 40);
    PutLe32(&h[18], static_cast<uint32_t>(width));
    PutLe32(&h[22], static_cast<uint32_t>(height));  // positive: rows bottom-up
    PutLe16(&h[26], 1);
    PutLe16(&h[28], 32);
    return h;  // compression, image size, resolutions and colours stay 0
}

StillWriter::StillWriter(std::string folder, RunLog* log) : folder_(std::move(folder)), log_(log) {}

StillWriter::~StillWriter() = default;

void StillWriter::CountStill(StillFormat format) {
    std::lock_guard<std::mutex> lock(countersMutex_);
    Counters& c = CountersOf(format);
    if (++c.logCounter > kStillsPerProgressLine) {
        c.logCounter = 0;
        // Under the lock so that lines of concurrent stills keep their order.
        if (log_ != nullptr) log_->WriteLogLine("Process: " + std::to_string(c.handedIn) + "frames");
    }
    ++c.handedIn;
}

StillResult StillWriter::Failed(const std::string& path, const std::string& reason) {
    StillResult r;
    r.ok = false;
    r.message = "Cannot write still " + path + ": " + reason;
    if (log_ != nullptr) log_->WriteLogLine(r.message);
    return r;
}

int32_t StillWriter::StillCount(StillFormat format) const {
    return CountersOf(format).written.load();
}

StillResult StillWriter::WriteStillBmp(int32_t frameNumber, const uint8_t* bgrx, int32_t width,
                                       int32_t height) {
    CountStill(StillFormat::Bmp);
    const std::string path = StillFileName(folder_, frameNumber, StillFormat::Bmp);
    const uint64_t bytes = FrameBytes(bgrx, width, height);
    if (bytes == 0) return Failed(path, "no frame or unusable frame size");
    const std::array<uint8_t, 54> headers = MakeBmpHeaders(width, height);
    const Status written = WriteFileParts(path, {{headers.data(), 14}, {headers.data() + 14, 40}, {bgrx, bytes}});
    if (!written.ok()) return Failed(path, written.reason());
    CountersOf(StillFormat::Bmp).written.fetch_add(1);
    return {};
}

StillResult StillWriter::WriteStillJpeg(int32_t frameNumber, const uint8_t* bgrx, int32_t width,
                                        int32_t height) {
    CountStill(StillFormat::Jpeg);
    const std::string path = StillFileName(folder_, frameNumber, StillFormat::Jpeg);
    std::unique_ptr<JpegEncoder> encoder = TakeEncoder();
    std::string reason;
    const bool ok = encoder->EncodeToFile(path, {bgrx, width, height, 32}, kStillJpegQuality, &reason);
    ReturnEncoder(std::move(encoder));
    if (!ok) return Failed(path, reason);
    CountersOf(StillFormat::Jpeg).written.fetch_add(1);
    return {};
}

std::unique_ptr<JpegEncoder> StillWriter::TakeEncoder() {
    {
        std::lock_guard<std::mutex> lock(encodersMutex_);
        if (!idleEncoders_.empty()) {
            std::unique_ptr<JpegEncoder> e = std::move(idleEncoders_.back());
            idleEncoders_.pop_back();
            return e;
        }
    }
    return std::make_unique<JpegEncoder>();
}

void StillWriter::ReturnEncoder(std::unique_ptr<JpegEncoder> encoder) {
    std::lock_guard<std::mutex> lock(encodersMutex_);
    // Each idle encoder keeps its planes and buffer for the next still; a
    // burst of callers leaves no more of them behind than the bound.
    if (idleEncoders_.size() < kMaxIdleEncoders) idleEncoders_.push_back(std::move(encoder));
}

void StillWriter::DeleteTemporaryFiles() {
    namespace fs = std::filesystem;
    for (const char* extension : {".jpg", ".bmp", ".wav"}) {
        std::error_code ec;
        fs::directory_iterator it(folder_, ec);
        if (ec) continue;
        std::vector<fs::path> doomed;
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) break;
            std::error_code typeError;
            if (it->is_regular_file(typeError) &&
                IsTemporaryFileName(it->path().filename().string(), extension)) {
                doomed.push_back(it->path());
            }
        }
        for (const fs::path& p : doomed) {
            std::error_code removeError;
            fs::remove(p, removeError);  // one file that cannot go does not stop the rest
        }
    }
}

}  // namespace tessaly
