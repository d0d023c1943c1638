// TESSALY_UNDER_TSAN is defined when this file is compiled for
// ThreadSanitizer (GCC or clang). FFmpeg's and Qt's libraries are not built
// for it, so code that starts their threads keeps them out of such builds or
// suppresses what the sanitizer cannot see inside them.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define TESSALY_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TESSALY_UNDER_TSAN 1
#endif
#endif
