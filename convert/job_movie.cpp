#include "convert/job_movie.h"

#include <filesystem>

#include "video/luma_sampler.h"
#include "video/movie_check.h"

namespace tessaly {

JobMovie ReadJobMovie(const std::string& path) {
    JobMovie movie;
    movie.path = path;
    const SourceFacts source = ReadSourceFacts(path);
    movie.stream = source.videoStream;
    movie.rateNum = source.rateNum;
    movie.rateDen = source.rateDen;
    const Result<SampledLuma> frame = SampleLumaMaximum(path, LumaSampling{1, 64});
    movie.width = frame.ok() ? frame->frameW : 0;
    movie.height = frame.ok() ? frame->frameH : 0;
    std::error_code ec;
    const uintmax_t bytes = std::filesystem::file_size(path, ec);
    movie.bytes = ec ? 0 : static_cast<int64_t>(bytes);
    return movie;
}

}  // namespace tessaly
