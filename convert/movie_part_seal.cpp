#include "convert/movie_part_seal.h"

#include <unistd.h>

namespace tessaly {

std::string PartDigest(const PartTag& tag, const std::string& packetDigest) {
    PartTag bare = tag;
    bare.digest.clear();
    return TextDigest(PartTagText(bare) + "\n" + packetDigest);
}

Status PartDamage(const std::string& path, PartFileFacts& facts, PartTag& tag) {
    Result<PartFileFacts> read = ReadPartFileFacts(path);
    if (!read.ok()) return Failure{read.reason()};
    facts = std::move(read).value();
    if (!ParsePartTag(facts.comment, tag)) {
        // A tag of ours that no longer reads is damage, not a stranger.
        if (facts.comment.rfind("tessaly-part ", 0) == 0) return Failure{"it is damaged: its part tag cannot be read"};
        return Failure{"it is no part made by tessaly-convert --part (no part tag)"};
    }
    if (tag.digest.empty()) return Failure{"its part tag holds no digest of its frames: make it again"};
    if (PartDigest(tag, facts.packetDigest) != tag.digest) {
        return Failure{"it is damaged: its frames or its tag are not the ones it was written with"};
    }
    return {};
}

Status SealPartFile(PendingFile& pending, const std::string& tagText) {
    PartTag tag;
    if (!ParsePartTag(tagText, tag)) return Failure{"the part tag cannot be read back"};
    const Result<PartFileFacts> encoded = ReadPartFileFacts(pending.tempPath);
    if (!encoded.ok()) return Failure{"the encoded part cannot be read back: " + encoded.reason()};
    const PartFileFacts& facts = encoded.value();
    tag.digest = PartDigest(tag, facts.packetDigest);
    Result<std::string> sibling = CreateSiblingFile(pending);
    if (!sibling.ok()) return Failure{sibling.reason()};
    const std::string sealed = std::move(sibling).value();
    MovieCopy how;
    how.comment = PartTagText(tag);
    std::string error = CopyMovie(pending.tempPath, sealed, how).reason();
    PartFileFacts copied;
    PartTag read;
    if (error.empty()) error = PartDamage(sealed, copied, read).reason();
    if (error.empty() && (read != tag || copied.packets != facts.packets)) error = "its copy reads back otherwise";
    if (!error.empty()) {
        ::unlink(sealed.c_str());
        return Failure{"the part could not be tagged: " + error};
    }
    ::unlink(pending.tempPath.c_str());
    pending.tempPath = sealed;
    return {};
}

}  // namespace tessaly
