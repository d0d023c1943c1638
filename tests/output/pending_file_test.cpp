// Files written under a hidden name and renamed into place: the names fit
// the file system, links stay links, permissions carry over, a discarded
// file leaves nothing; and every spelling of one file is found out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../app/temp_dir.h"
#include "output/pending_file.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PendingFileTest, TemporaryNamesKeepTheExtensionAndFitTheFileSystem) {
    EXPECT_EQ(TemporaryNameFor("o.mp4", "Ab12cd"), ".o.tessaly-Ab12cd.mp4");
    EXPECT_EQ(TemporaryNameFor("My Movie.final.WEBM", "zzzzzz"), ".My Movie.final.tessaly-zzzzzz.WEBM");
    EXPECT_EQ(TemporaryNameFor("noext", "aaaaaa"), ".noext.tessaly-aaaaaa");
    EXPECT_EQ(TemporaryNameFor(".hidden", "aaaaaa"), "..hidden.tessaly-aaaaaa");
    // A 250-byte name: the stem is shortened, the extension stays.
    const std::string longName = std::string(246, 'n') + ".mp4";
    const std::string shortened = TemporaryNameFor(longName, "aaaaaa");
    EXPECT_EQ(shortened, "." + std::string(235, 'n') + ".tessaly-aaaaaa.mp4");
    // Never half a character: "ü" is two bytes.
    std::string umlauts;
    while (umlauts.size() < 246) umlauts += "\xC3\xBC";
    const std::string cut = TemporaryNameFor(umlauts + ".mov", "aaaaaa", 255);
    EXPECT_LE(cut.size(), 255u);
    const std::string stem = cut.substr(1, cut.size() - 1 - std::string(".tessaly-aaaaaa.mov").size());
    EXPECT_EQ(stem.size() % 2, 0u) << cut;
    EXPECT_EQ(stem.find_first_not_of("\xC3\xBC"), std::string::npos);
}

TEST(PendingFileTest, PlacedFilesReplaceTheNameAndDiscardedOnesLeaveNothing) {
    TempDir dir("pending");
    const std::string out = (dir.path() / "out.mp4").string();
    std::ofstream(out) << "old bytes";
    ::chmod(out.c_str(), 0640);

    // Discarded: the old file keeps its bytes, no hidden file is left.
    Result<PendingFile> made = CreatePendingFile(out);
    ASSERT_TRUE(made.ok()) << made.reason();
    PendingFile pending = made.value();
    EXPECT_EQ(fs::path(pending.tempPath).parent_path(), dir.path());
    EXPECT_TRUE(fs::path(pending.tempPath).filename().string().starts_with(".out.tessaly-"));
    std::ofstream(pending.tempPath) << "half a movie";
    DiscardPendingFile(pending);
    DiscardPendingFile(pending);
    EXPECT_EQ(ReadFile(out), "old bytes");
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"out.mp4"});

    // Placed: the new bytes under the name, with the old file's permissions.
    pending = CreatePendingFile(out).value();
    std::ofstream(pending.tempPath) << "new movie";
    ASSERT_TRUE(PlacePendingFile(pending).ok());
    EXPECT_EQ(ReadFile(out), "new movie");
    EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"out.mp4"});

    // Through a link: the file it names is replaced, the link stays.
    fs::create_directories(dir.path() / "links");
    const fs::path link = dir.path() / "links" / "link.mp4";
    fs::create_symlink("../out.mp4", link);
    pending = CreatePendingFile(link.string()).value();
    EXPECT_EQ(fs::path(pending.tempPath).parent_path(), dir.path() / "links" / "..");
    std::ofstream(pending.tempPath) << "through the link";
    ASSERT_TRUE(PlacePendingFile(pending).ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(out), "through the link");

    // Two files at once get two names; a folder that is not there fails.
    PendingFile a = CreatePendingFile(out).value(), b = CreatePendingFile(out).value();
    EXPECT_NE(a.tempPath, b.tempPath);
    const std::string sibling = CreateSiblingFile(a).value();
    EXPECT_NE(sibling, a.tempPath);
    ::unlink(sibling.c_str());
    DiscardPendingFile(a);
    DiscardPendingFile(b);
    const Result<PendingFile> none = CreatePendingFile((dir.path() / "none" / "x.mp4").string());
    EXPECT_NE(none.reason().find("cannot create a temporary file in"), std::string::npos) << none.reason();
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"links", "out.mp4"}));
}

TEST(PendingFileTest, EverySpellingOfOneFileIsFound) {
    TempDir dir("samefile");
    const fs::path d = dir.path();
    std::ofstream(d / "o.mp4") << "x";
    fs::create_symlink("o.mp4", d / "l.webm");
    fs::create_hard_link(d / "o.mp4", d / "h.mp4");
    fs::create_symlink("later.mp4", d / "dangling.webm");
    fs::create_directories(d / "sub");
    const std::string o = (d / "o.mp4").string();
    struct Case { const char* name; std::vector<std::string> paths; std::vector<size_t> pair; };
    const Case kCases[] = {
        {"distinct", {o, (d / "p.mp4").string(), (d / "sub/o.mp4").string()}, {}},
        {"symbolic link", {(d / "x.mp4").string(), o, (d / "l.webm").string()}, {1, 2}},
        {"dot spelling", {o, (d / "./o.mp4").string()}, {0, 1}},
        {"through a folder and back", {(d / "sub/../q.mp4").string(), (d / "q.mp4").string()}, {0, 1}},
        {"hard link", {(d / "h.mp4").string(), o}, {0, 1}},
        {"dangling link to a new name", {(d / "later.mp4").string(), (d / "dangling.webm").string()}, {0, 1}},
        {"two new names", {(d / "n.mp4").string(), (d / "n.mp4").string()}, {0, 1}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SameFilePair(c.paths), c.pair);
    }
    // Case counts on this file system (Linux folders keep it); the probe
    // leaves nothing behind.
    const std::vector<std::string> before = Entries(d);
    EXPECT_EQ(SameFilePair({(d / "Case.mp4").string(), (d / "case.mp4").string()}), std::vector<size_t>{});
    EXPECT_EQ(Entries(d), before);
}

}  // namespace
}  // namespace tessaly
