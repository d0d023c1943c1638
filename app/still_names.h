// Which files in the temporary folder are the numbered stills a conversion
// writes: "mono" followed by six or more digits and the extension. The folder
// is the user's choice, so anything else there (their own "monochrome.jpg")
// must survive every clean-up.
#pragma once

#include <string_view>

namespace tessaly {

inline bool IsStillFileName(std::string_view name, std::string_view extension) {
    if (name.size() < 4 + 6 + extension.size() || !name.starts_with("mono") ||
        !name.ends_with(extension))
        return false;
    for (char c : name.substr(4, name.size() - 4 - extension.size()))
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace tessaly
