#include "app/value_form.h"

#include <charconv>
#include <cmath>

namespace tessaly {

bool ReadWholeNumber(std::string_view text, int64_t low, int64_t high, int64_t& out) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, out);
    return ec == std::errc() && ptr == end && begin != end && out >= low && out <= high;
}

bool ReadDecimal(std::string_view text, double& out) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, out, std::chars_format::general);
    return ec == std::errc() && ptr == end && begin != end && std::isfinite(out);
}

std::string DecimalText(double value) {
    char buffer[64];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, ptr) : std::string("0");
}

std::vector<std::string> SplitAt(std::string_view text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string_view::npos; at = text.find(separator, start)) {
        parts.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.emplace_back(text.substr(start));
    return parts;
}

std::optional<FormValue> ReadFormValue(const ValueForm& form, std::string_view text) {
    const std::vector<std::string> parts = SplitAt(text, form.separator);
    if (parts.size() != form.parts) return std::nullopt;
    FormValue value;
    value.texts.assign(parts.begin(), parts.begin() + form.texts);
    for (size_t i = form.texts; i < parts.size(); ++i) {
        double number = 0;
        int64_t whole = 0;
        const bool read = form.decimals ? ReadDecimal(parts[i], number)
                                        : ReadWholeNumber(parts[i], form.min, form.max, whole);
        if (!form.decimals) number = static_cast<double>(whole);
        const bool positive = i + form.positive >= parts.size();
        if (!read || number < form.min || number > form.max || (positive && !(number > 0))) return std::nullopt;
        value.numbers.push_back(number);
    }
    return value;
}

std::string FormValueText(const ValueForm& form, const FormValue& value) {
    std::vector<std::string> parts = value.texts;
    for (const double number : value.numbers) {
        parts.push_back(form.decimals ? DecimalText(number) : std::to_string(static_cast<int64_t>(number)));
    }
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? "" : std::string(1, form.separator)) + parts[i];
    return text;
}

}  // namespace tessaly
