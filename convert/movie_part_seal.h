// The seal of a part file: the digest its tag carries over its own frames
// and the tag itself, written once the part is encoded and checked by the
// join before anything else, so that a changed byte shows as damage.
#pragma once

#include <string>

#include "convert/movie_part.h"
#include "output/pending_file.h"
#include "video/part_probe.h"

namespace tessaly {

// The digest a part's tag carries: SHA-256 over the tag's other words and
// the digest of the file's video packets (PartFileFacts::packetDigest), so a
// changed byte in a frame or in the tag shows as damage.
std::string PartDigest(const PartTag& tag, const std::string& packetDigest);

// Whether the part file at `path` is whole; a damaged one says why: it
// cannot be read to its end, its tag is cut or changed, or its frames are
// not the ones its tag's digest was made from. `facts` and `tag` are filled
// as read.
Status PartDamage(const std::string& path, PartFileFacts& facts, PartTag& tag);

// Gives the encoded part in `pending` its tag (`tagText`, without digest)
// with the digest of its packets, read without decoding: the part is copied
// with the full tag into a sibling file, which is read back and checked,
// and becomes the pending file. A failure says why not (`pending` then
// still names the encoder's file).
Status SealPartFile(PendingFile& pending, const std::string& tagText);

}  // namespace tessaly
