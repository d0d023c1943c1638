#include "video/encoder_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "app/app_paths.h"

extern char** environ;

namespace tessaly {

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        // An empty PATH entry means the current folder.
        std::string candidate(end > start ? std::string_view(dirs).substr(start, end - start)
                                          : std::string_view("."));
        candidate += '/';
        candidate += name;
        if (IsExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

// Redirects fd to the file (created or truncated) or to /dev/null.
int AddRedirect(posix_spawn_file_actions_t* actions, int fd, const std::string& path,
                int flags) {
    const std::string target = path.empty() ? "/dev/null" : path;
    return posix_spawn_file_actions_addopen(actions, fd, target.c_str(), flags, 0644);
}

}  // namespace

std::string FindEncoderProgram(const std::string& programDir) {
    std::string dir = programDir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    // A portable folder's own encoder, then the link an installed program
    // has, then the system's.
    for (const std::string& candidate :
         {dir + kEncoderRelativePath, dir + kInstalledDataRelative + kEncoderRelativePath}) {
        if (IsExecutableFile(candidate)) {
            return std::filesystem::path(candidate).lexically_normal().string();
        }
    }
    std::string found = FindOnPath("ffmpeg");
    if (found.empty() && IsExecutableFile("/usr/bin/ffmpeg")) found = "/usr/bin/ffmpeg";
    return found;
}

int RunEncoderProgram(const std::vector<std::string>& args, const RunOptions& options) {
    if (args.empty() || args[0].empty()) return kCannotStart;

    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return kCannotStart;
    const int outFlags = O_WRONLY | O_CREAT | O_TRUNC;
    int rc = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0) rc = AddRedirect(&actions, 1, options.stdoutPath, outFlags);
    if (rc == 0) rc = AddRedirect(&actions, 2, options.stderrPath, outFlags);

    pid_t pid = -1;
    if (rc == 0) rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return kCannotStart;

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return kCannotStart;
    }
    if (WIFEXITED(status)) {
        // glibc reports a failed exec of the child as exit code 127.
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return kCannotStart;
}

}  // namespace tessaly
