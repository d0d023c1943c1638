// Preloaded into tessaly-convert by a test: sends the process SIGTERM while
// the libraries start, before main, as a user's early Ctrl+C or a scheduler's
// stop can.
#include <csignal>

namespace {

__attribute__((constructor)) void StopWhileTheLibrariesStart() { std::raise(SIGTERM); }

}  // namespace
