// The command-line options of tessaly-convert as one table: the parser, the
// option lists of --help and the checks of the bash completion and the
// manual page all read it. An option that sets a parameter names it by tag;
// its name, value, help and range then come from the parameter's
// descriptor (app/parameter_table.h).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "cli/convert_options.h"

namespace tessaly {

// The part of --help an option is listed in.
enum class OptionSection { kParts, kJobs, kOptions, kStereo };

struct ConvertOption;
// Reads the option's value (empty for a switch) into the options; false
// with `error` set when it is not valid.
using ApplyOptionValue = bool (*)(const ConvertOption& self, const std::string& value, ConvertOptions& o,
                                  std::string& error);

struct ConvertOption {
    const char* name = nullptr;      // "--sharpen"; null: the flag of the parameter `tag`
    const char* value = nullptr;     // the value's name in --help; null: a switch
    OptionSection section = OptionSection::kOptions;
    // --help's text: lines joined by '\n', each indented to the text column.
    // "{range}" is the range of the option's setting, "{TAG}" that of the setting TAG.
    const char* help = "";
    ApplyOptionValue apply = nullptr;  // null: taken only first, by main (--check-options)
    // The setting's tag in the parameter or job file, if any; a number's range is that setting's.
    const char* tag = nullptr;
    // The value may be left out: then it is empty ("--list-lenses [WORD]").
    bool optionalValue = false;
};

// Every option, in the order --help lists them.
std::span<const ConvertOption> ConvertOptionTable();

// The option named `name` ("--cut"); null for none.
const ConvertOption* FindConvertOption(const std::string& name);

// True when the option is parsed with a value ("--name value").
inline bool TakesValue(const ConvertOption& option) {
    return option.value != nullptr && option.apply != nullptr;
}

// The range of the whole-number or amount parameter `tag`.
std::pair<int32_t, int32_t> RangeOfTag(const std::string& tag);

// The option lines of one section of --help.
std::string OptionSectionUsage(OptionSection section);

// A decimal number filling the whole text, read without the locale ("."
// is the decimal point whatever LC_NUMERIC says); none for anything else.
std::optional<double> ParseDecimal(const std::string& text);

}  // namespace tessaly
