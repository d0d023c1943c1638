// The one table of tessaly-convert's options against everything else that
// names them: the bash completion, the manual page and the job file.
#include "cli/convert_option_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "app/parameter_file.h"
#include "convert/movie_job_file.h"

namespace tessaly {
namespace {

using Names = std::set<std::string>;

std::string ReadSource(const std::string& path) {
    std::ifstream in(std::string(TESSALY_SOURCE_DIR) + "/" + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of `text` from the line `from` up to the next line starting with `to`.
std::vector<std::string> LinesBetween(const std::string& text, const std::string& from, const std::string& to) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (inside && line.rfind(to, 0) == 0) break;
        if (inside) lines.push_back(line);
        inside = inside || line.find(from) != std::string::npos;
    }
    return lines;
}

// Every match of `pattern`'s first group in `text`.
Names Matches(const std::string& text, const std::string& pattern) {
    Names names;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
        names.insert((*it)[1]);
    }
    return names;
}

// The manual's item heads (the line after each ".TP") between two lines.
std::vector<std::string> ManualItems(const std::string& from, const std::string& to) {
    const std::vector<std::string> lines = LinesBetween(ReadSource("packaging/tessaly-convert.1"), from, to);
    std::vector<std::string> heads;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] == ".TP") heads.push_back(std::regex_replace(lines[i + 1], std::regex(R"(\\-)"), "-"));
    }
    return heads;
}

// The completion and the manual page offer exactly the table's options, and
// take a value after exactly the options the parser reads one for.
TEST(OptionVocabulary, CompletionAndManualListTheTablesOptions) {
    Names all, valued;
    for (const ConvertOption& option : ConvertOptionTable()) {
        all.insert(option.name);
        if (TakesValue(option)) valued.insert(option.name);
    }
    const std::string completion = ReadSource("packaging/tessaly-convert.bash");
    const std::string offered = *Matches(completion, R"(compgen -W "(--[^"]*)\")").begin();
    EXPECT_EQ(Matches(offered, R"((--[a-z-]+))"), all);
    Names completedValues;
    for (const std::string& cases : Matches(completion, R"(\n +(--[a-z|-]+)\)\n)")) {
        const Names names = Matches(cases, R"((--[a-z-]+))");
        completedValues.insert(names.begin(), names.end());
    }
    EXPECT_EQ(completedValues, valued);

    Names manual, manualValued;
    for (const std::string& head : ManualItems(".SH OPTIONS", ".SH ")) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(head, m, std::regex(R"(^\.B[IR]? (--[a-z-]+)( ")?)"))) << head;
        manual.insert(m[1]);
        if (m[2].matched) manualValued.insert(m[1]);
    }
    EXPECT_EQ(manual, all);
    EXPECT_EQ(manualValued, valued);
}

// The numbers the completion offers after an option are its setting's whole
// range; the manual's "0..21" value names are the range too.
TEST(OptionVocabulary, CompletedNumbersAreTheSettingsRange) {
    const std::string completion = ReadSource("packaging/tessaly-convert.bash");
    for (const char* name : {"--sharpen", "--noise", "--quality", "--resize"}) {
        std::smatch m;
        const std::regex offered("\n +" + std::string(name) + R"re(\)\n *COMPREPLY=\(\$\(compgen -W "([^"]*)")re");
        ASSERT_TRUE(std::regex_search(completion, m, offered)) << name;
        std::string words = m[1];
        std::smatch span;  // bash's own "$(echo {0..21})"
        if (std::regex_search(words, span, std::regex(R"(\{(\d+)\.\.(\d+)\})"))) {
            const int first = std::stoi(span[1]), last = std::stoi(span[2]);
            words.clear();
            for (int n = first; n <= last; ++n) words += std::to_string(n) + " ";
        }
        Names expected;
        const auto [low, high] = RangeOfTag(FindConvertOption(name)->tag);
        for (int32_t n = low; n <= high; ++n) expected.insert(std::to_string(n));
        EXPECT_EQ(Matches(words, R"(\b(\d+)\b)"), expected) << name;
    }
    for (const std::string& head : ManualItems(".SH OPTIONS", ".SH ")) {
        std::smatch m;
        if (!std::regex_search(head, m, std::regex(R"re((--[a-z-]+) " ?(\d+)\.\.(\d+)")re"))) continue;
        const auto [low, high] = RangeOfTag(FindConvertOption(m[1])->tag);
        EXPECT_EQ(std::to_string(low) + ".." + std::to_string(high), m[2].str() + ".." + m[3].str()) << head;
    }
}

// The manual's job file section names exactly the tags the job file writes;
// each option's setting and each lens tag of the parameter file is one of them.
TEST(OptionVocabulary, JobFileTagsAreTheManualsAndTheOptions) {
    MovieJob job;
    job.geometry.circle = LensCircle{320, 240, 200};
    job.outputs.paths = {"out.mp4"};
    // A stereo job, with every line it may leave out.
    job.stereo.settings.input = StereoLayout::kSideBySide;
    job.stereo.measured = EyeOffset{};
    for (int eye = 0; eye < 2; ++eye) {
        job.stereo.circles[eye] = job.geometry.circle;
        job.stereo.settings.angles[eye] = EyeAngles{1, 2, 3};
    }
    Names written = Matches(JobFileText(job), R"(\n([A-Z_0-9]+) )");
    Names documented;
    for (const std::string& head : ManualItems("TESSALY-JOB 1", ".SH ")) {
        const Names tags = Matches(head.substr(head.find(' ')), R"(\b([A-Z][A-Z_0-9]+)\b)");
        documented.insert(tags.begin(), tags.end());
    }
    EXPECT_EQ(documented, written);
    for (const ConvertOption& option : ConvertOptionTable()) {
        EXPECT_TRUE(option.tag == nullptr || written.count(option.tag)) << option.name;
    }
    for (const char* tag : kLensTags) EXPECT_TRUE(written.count(tag)) << tag;
}

}  // namespace
}  // namespace tessaly
