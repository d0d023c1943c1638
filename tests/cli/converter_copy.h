// A program folder of a test's own: the converter's log and parameter file
// live beside the program, and tests run in parallel.
#pragma once

#include <filesystem>
#include <system_error>

namespace tessaly::testing {

// Links (or copies) the built tessaly-convert into `folder`/prog and returns
// the program's path there.
inline std::filesystem::path ConverterCopyIn(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    fs::create_directories(folder / "prog");
    const fs::path built = fs::path(TESSALY_BINARY_DIR) / "cli" / "tessaly-convert";
    const fs::path program = folder / "prog" / "tessaly-convert";
    std::error_code ec;
    fs::create_hard_link(built, program, ec);
    if (ec) fs::copy_file(built, program, fs::copy_options::overwrite_existing);
    return program;
}

}  // namespace tessaly::testing
