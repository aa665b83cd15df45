#include "common/Text.h"

#include <algorithm>

std::string ZeroPad(int64_t value, int width) {
    std::string text(
        std::max<size_t>(width > 0 ? static_cast<size_t>(width) : 0, kes::kLongestWholeNumber),
        '0');
    text.resize(kes::zeroPadInto(text.data(), value, width));
    return text;
}

std::string SsnToId(std::string_view ssn) {
    std::string id;
    auto take = [&](size_t from, size_t count) {
        if (from < ssn.size()) id.append(ssn.substr(from, count));
    };
    take(0, 3);
    take(4, 2);
    take(7, 4);
    return id;
}

namespace kes {

std::string toUpperAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

std::string toLowerAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

std::string_view trimBlanksAndControls(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    return s;
}

} // namespace kes
