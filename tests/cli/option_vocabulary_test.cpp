// The parameter table and tessaly-convert's option table against everything
// else that names them: the bash completion, the manual page, the options'
// readers, and the tags, ranges and start values of the parameter file and
// the job file.
#include "cli/convert_option_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "app/parameter_file.h"
#include "app/parameter_table.h"
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

// Every match of `pattern`'s first group in `text`, in order.
std::vector<std::string> TagsOf(const std::string& text, const std::string& pattern) {
    std::vector<std::string> tags;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
        tags.push_back((*it)[1]);
    }
    return tags;
}

Names Matches(const std::string& text, const std::string& pattern) {
    const std::vector<std::string> all = TagsOf(text, pattern);
    return Names(all.begin(), all.end());
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
    // A stereo job of two movies, with every line it may leave out.
    job.stereo.settings.input = StereoLayout::kPair;
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
}

std::vector<std::string> DescribedTags(uint8_t file) {
    std::vector<std::string> tags;
    for (const ParameterDescriptor& d : kParameterTable) {
        if ((d.files & file) != 0) tags.push_back(d.tag);
    }
    return tags;
}

// A job the reader accepts, with every optional line written.
MovieJob WholeJob() {
    MovieJob job;
    job.movie.path = job.geometry.moviePath = "in.mp4";
    job.geometry.circle = LensCircle{320, 240, 200};
    job.lens.profile.lens = "Lens";
    job.outputs.paths = {"out.mp4"};
    return job;
}

// The files write exactly the table's tags (the parameter file in the
// table's order), start from its start values and keep to its ranges; each
// parameter's option is the table's.
TEST(OptionVocabulary, ParameterAndJobFilesFollowTheParameterTable) {
    AppSettings settings;
    settings.lens.profile.lens = "Lens";
    EXPECT_EQ(TagsOf(SerializeParameters(settings, ScreenSize{}), R"(\n<([A-Z_0-9]+)>)"),
              DescribedTags(kInParameterFile));
    const std::string job = JobFileText(WholeJob());
    std::vector<std::string> jobTags = TagsOf(job, R"(\n([A-Z_0-9]+) )");
    jobTags.erase(std::unique(jobTags.begin(), jobTags.end()), jobTags.end());
    const std::vector<std::string> described = DescribedTags(kInJobFile);
    EXPECT_EQ(Names(jobTags.begin(), jobTags.end()), Names(described.begin(), described.end()));
    const std::string startJob = JobFileText(MovieJob{});
    const AppSettings start;
    for (const ParameterDescriptor& d : kParameterTable) {
        SCOPED_TRACE(d.tag);
        if (d.field != nullptr) {
            EXPECT_EQ(start.*d.field, d.start);
        }
        if (d.path != nullptr) {
            EXPECT_TRUE((start.*d.path).empty());
        }
        const bool ranged = d.kind == ValueKind::kWhole || d.kind == ValueKind::kAmount || d.kind == ValueKind::kSwitch;
        if ((d.files & kInJobFile) == 0 || !ranged) continue;
        const std::string tag = std::string("\n") + d.tag + " ";
        EXPECT_NE(startJob.find(tag + std::to_string(d.start) + "\n"), std::string::npos);
        const size_t at = job.find(tag) + tag.size();
        auto withValue = [&](int64_t v) { return job.substr(0, at) + std::to_string(v) + job.substr(job.find('\n', at)); };
        EXPECT_TRUE(ReadJobText(withValue(d.max)).ok());
        const Result<MovieJob> beyond = ReadJobText(withValue(int64_t{d.max} + 1));
        EXPECT_FALSE(beyond.ok());
        EXPECT_NE(beyond.reason().find(d.kind == ValueKind::kSwitch ? std::string("needs 0 or 1")
                                                                     : " to " + std::to_string(d.max)),
                  std::string::npos) << beyond.reason();
    }
    for (const ConvertOption& option : ConvertOptionTable()) {
        if (option.tag == nullptr) continue;
        const auto named = std::find_if(std::begin(kParameterTable), std::end(kParameterTable),
                                        [&](const ParameterDescriptor& d) { return std::string_view(d.tag) == option.tag; });
        ASSERT_NE(named, std::end(kParameterTable)) << option.name;
        if (named->flag != nullptr && std::string_view(named->flag) == option.name) {
            EXPECT_EQ(option.help, named->help);
        }
    }
    for (const ParameterDescriptor& d : kParameterTable) {
        if (d.flag == nullptr) continue;
        const ConvertOption* option = FindConvertOption(d.flag);
        ASSERT_NE(option, nullptr) << d.flag;
        EXPECT_STREQ(option->tag, d.tag);
    }
}

// A job file as the program has always written it reads back and is
// written again byte for byte.
TEST(OptionVocabulary, AJobFileOfTodayReadsBackByteForByte) {
    const std::string file =
        "TESSALY-JOB 1\nMOVIE /m/in x.mp4\nSTREAM 0\nSIZE 1920x1080\nRATE 30000/1001\nBYTES 123456\n"
        "XL1 12\nYL1 -3\nXL2 590\nYL2 601\nCIRCLE 960.5,540,470.25\n"
        "SHARPEN_CH 1\nSHARPEN 4\nRADIUS 2\nBRIGHTNESS_CH 1\nBRIGHTNESS 140\nCONTRAST_CH 0\nCONTRAST 0\n"
        "NOISE_CH 1\nNOISE 3\nCPU_CH 0\nCPU 75\nASPECT 0\nLENS stereographic\nLENS_FOV 203.25\nYAW -12.5\n"
        "PITCH 0.125\nROLL 179\nLENS_PROFILE Sigma 8mm|Canon|0|8|5.6\nLENS_FILE \nFLIP 1\nSTILLS stream\n"
        "KEEP_STILLS 0\nQUALITY 15\nRESIZE 2\nVR_METADATA 1\nSTRICT 0\nENCODER_STALL 60\nTEMP /tmp\n"
        "OUTPUT /o/out.mp4\nOUTPUT /o/second.avi\nEND\n";
    const Result<MovieJob> read = ReadJobText(file);
    ASSERT_TRUE(read.ok()) << read.reason();
    EXPECT_EQ(JobFileText(read.value()), file);
}

}  // namespace
}  // namespace tessaly
