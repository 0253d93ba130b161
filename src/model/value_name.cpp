// Enumeration labels of INTEGER syntaxes.
#include "model/value_name.h"

#include <cstdint>
#include <limits>

namespace velk::model {
namespace {

template <class Char>
bool IsBlank(Char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Skips leading blanks, takes an optional sign and the digits up to the first non-digit,
// saturating at the bounds of T; text without digits reads as 0.
template <class T, class Char>
T ReadDecimal(std::basic_string_view<Char> s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    T value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const T digit = static_cast<T>(s[i] - '0');
        if (negative) {
            if (value < (std::numeric_limits<T>::min() + digit) / 10) return std::numeric_limits<T>::min();
            value = value * 10 - digit;
        } else {
            if (value > (std::numeric_limits<T>::max() - digit) / 10) return std::numeric_limits<T>::max();
            value = value * 10 + digit;
        }
    }
    return value;
}

}  // namespace

std::optional<std::u16string> EnumerationLabel(std::u16string_view valueText,
                                               std::u16string_view baseSyntax) {
    const int32_t wanted = ReadDecimal<int32_t>(valueText);

    // The syntax as 8-bit text.
    std::string syntax(baseSyntax.size(), '\0');
    for (size_t i = 0; i < baseSyntax.size(); ++i)
        syntax[i] = baseSyntax[i] <= 0xFF ? static_cast<char>(baseSyntax[i]) : '?';

    std::string_view rest(syntax);
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    if (!rest.starts_with("INTEGER")) return std::nullopt;
    const size_t open = rest.find('{');
    const size_t close = rest.find('}');
    if (open == std::string_view::npos || close == std::string_view::npos || open > close)
        return std::nullopt;

    std::string_view items = rest.substr(open + 1);
    while (!items.empty()) {
        const size_t comma = items.find(',');
        const std::string_view item = items.substr(0, comma);
        items = comma == std::string_view::npos ? std::string_view() : items.substr(comma + 1);
        if (item.empty()) continue;
        const size_t paren = item.find('(');
        if (paren == std::string_view::npos || item.find(')', paren + 1) == std::string_view::npos)
            continue;
        const int64_t number = ReadDecimal<int64_t>(item.substr(paren + 1));
        if (number != wanted) continue;
        size_t start = 0;
        while (start < paren && IsBlank(item[start])) ++start;
        std::u16string label;
        label.reserve(paren - start);
        for (size_t i = start; i < paren; ++i)
            label.push_back(static_cast<char16_t>(static_cast<unsigned char>(item[i])));
        return label;
    }
    return std::nullopt;
}

}  // namespace velk::model
