// A file written under a hidden, unique name beside its final name and
// renamed over that name only once it is complete: a failed, stopped or
// killed run never leaves a partial file under the final name, and a file
// that already had that name keeps its bytes until the new one is whole.
#pragma once

#include <string>
#include <vector>

#include "app/result.h"

namespace tessaly {

// The hidden name for `fileName` (a name without folder) with `tag` as its
// unique part: "." + stem + ".tessaly-" + tag + extension. The extension is
// kept, so a program that picks the container by it picks the same one. The
// stem is shortened (never inside a UTF-8 sequence) so the name fits
// `nameMax` bytes.
std::string TemporaryNameFor(const std::string& fileName, const std::string& tag, size_t nameMax = 255);

struct PendingFile {
    std::string finalPath;  // the name the user gave
    std::string placePath;  // the file the rename replaces: finalPath, or the file a link names
    std::string tempPath;   // the hidden file beside placePath; empty when there is none
};

// Creates an empty hidden file beside `finalPath` (O_EXCL: never anyone
// else's file). A link as the final name is followed: the file it names is
// the one replaced, and the link stays. A failure says why no such file can
// be made.
Result<PendingFile> CreatePendingFile(const std::string& finalPath);

// Another hidden file beside the same place (for a copy of the pending one):
// its path.
Result<std::string> CreateSiblingFile(const PendingFile& pending);

// Gives the pending file the permissions the replaced file had (a new file
// keeps those it was created with), flushes it to disk and renames it over
// the final name. On failure the temporary file is removed and the final
// name is untouched.
Status PlacePendingFile(PendingFile& pending);

// Removes the temporary file (nothing else); safe to call twice.
void DiscardPendingFile(PendingFile& pending);

// The hidden files this process has made (pending files and their
// siblings) and not removed itself; some may have been renamed into place
// since. A process that ends before its run has cleaned up removes them.
std::vector<std::string> HiddenFilesMade();

// Which of `paths` name one and the same file: the same name spelled
// another way ("./", "..", links, hard links), and names that differ only in
// case in a folder that ignores case. Returns the indices of the first pair
// found, or {} when every path names a file of its own.
std::vector<size_t> SameFilePair(const std::vector<std::string>& paths);

// The text of errno `code` for a file, in the user's words for the two
// that mean the disk: "no space left on device (path)", "file too large (path)";
// empty for any other code.
std::string DiskFullReason(int code, const std::string& path);

}  // namespace tessaly
