// The form of a value made of several parts on one line, written once for
// the files that read and write it (the job file, the parameter file) and
// the options that take it: "1920x1080", "30000/1001", "960.5,540,470.25",
// "Sigma 8mm|Canon|0|8|5.6" (texts first, then numbers). Numbers are read
// and written with "." whatever the locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

struct ValueForm {
    uint8_t parts = 0;  // how many
    char separator = ',';
    uint8_t texts = 0;        // the leading parts that are texts, not numbers
    bool decimals = false;    // numbers with a fraction, else whole numbers
    int32_t min = 0;          // every number's range
    int32_t max = 0;
    uint8_t positive = 0;     // the last parts that must be above 0
    bool mayBeEmpty = false;  // an empty value means none
    const char* needs = "";   // what a bad value is told it needs
};

// A value's parts: its texts, then its numbers.
struct FormValue {
    std::vector<std::string> texts;
    std::vector<double> numbers;
};

// The parts of `text` as `form` has them; nothing when the text does not
// fit the form (an empty text of a form that may be empty is not read here).
std::optional<FormValue> ReadFormValue(const ValueForm& form, std::string_view text);

// The value's text as `form` writes it.
std::string FormValueText(const ValueForm& form, const FormValue& value);

// A whole number filling the whole text, within low..high.
bool ReadWholeNumber(std::string_view text, int64_t low, int64_t high, int64_t& out);

// A decimal number filling the whole text ("." as its point, an exponent
// allowed), finite.
bool ReadDecimal(std::string_view text, double& out);

// The shortest text that reads back as the same double.
std::string DecimalText(double value);

// `text` cut at every `separator`.
std::vector<std::string> SplitAt(std::string_view text, char separator);

}  // namespace tessaly
