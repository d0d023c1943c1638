// Marks one movie as 180-degree VR video and prints what it cost:
//   video_mark_vr MOVIE
// Output: "marked BYTES bytes PACKETS packets in SECONDS s" or the reason.
#include <sys/stat.h>

#include <cstdio>

#include "video/vr_metadata.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: video_mark_vr MOVIE\n");
        return 2;
    }
    struct stat st {};
    ::stat(argv[1], &st);
    const tessaly::VrMarkResult r = tessaly::MarkAs180Video(argv[1], {});
    if (r.status != tessaly::VrMarkStatus::kMarked) {
        std::fprintf(stderr, "not marked: %s\n", r.reason.c_str());
        return 1;
    }
    std::printf("marked %lld bytes %lld packets in %.2f s\n", static_cast<long long>(st.st_size),
                static_cast<long long>(r.packets), r.seconds);
    return 0;
}
