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
    const SampledLuma frame = SampleLumaMaximum(path, LumaSampling{1, 64});
    movie.width = frame.frameW;
    movie.height = frame.frameH;
    std::error_code ec;
    const uintmax_t bytes = std::filesystem::file_size(path, ec);
    movie.bytes = ec ? 0 : static_cast<int64_t>(bytes);
    return movie;
}

}  // namespace tessaly
