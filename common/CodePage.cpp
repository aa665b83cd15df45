#include "common/CodePage.h"

#include <array>
#include <unordered_map>

namespace kes {
namespace {

using HighHalf = std::array<uint16_t, 128>;

constexpr HighHalf kCp437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

constexpr HighHalf kCp850 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557,
    0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB,
    0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, 0x00DE, 0x00DA, 0x00DB, 0x00D9,
    0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0};

HighHalf makeCp1252() {
    HighHalf t{};
    // 0x80-0x9F differ from Latin-1; the five unassigned bytes keep their C1 code.
    constexpr uint16_t k80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    for (int i = 0; i < 32; ++i)
        t[i] = k80[i];
    for (int i = 32; i < 128; ++i)
        t[i] = static_cast<uint16_t>(0x80 + i);
    return t;
}

const HighHalf& table(CodePage cp) {
    static const HighHalf cp1252 = makeCp1252();
    switch (cp) {
    case CodePage::Oem437:
        return kCp437;
    case CodePage::Oem850:
        return kCp850;
    case CodePage::Windows1252:
        return cp1252;
    }
    return kCp437;
}

const std::unordered_map<uint32_t, uint8_t>& reverse(CodePage cp) {
    static const auto build = [](CodePage c) {
        std::unordered_map<uint32_t, uint8_t> m;
        const HighHalf& t = table(c);
        for (int i = 0; i < 128; ++i)
            m.emplace(t[i], static_cast<uint8_t>(0x80 + i));
        return m;
    };
    static const auto r437 = build(CodePage::Oem437);
    static const auto r850 = build(CodePage::Oem850);
    static const auto r1252 = build(CodePage::Windows1252);
    switch (cp) {
    case CodePage::Oem437:
        return r437;
    case CodePage::Oem850:
        return r850;
    case CodePage::Windows1252:
        return r1252;
    }
    return r437;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string toUtf8(std::string_view bytes, CodePage cp) {
    if (isAscii(bytes)) return std::string(bytes);
    const HighHalf& t = table(cp);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        if (c < 0x80)
            out += static_cast<char>(c);
        else
            appendUtf8(out, t[c - 0x80]);
    }
    return out;
}

std::string fromUtf8(std::string_view utf8, CodePage cp) {
    if (isAscii(utf8)) return std::string(utf8);
    const auto& rev = reverse(cp);
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t code = 0;
        size_t len = 1;
        if (c < 0x80) {
            code = c;
        } else if ((c & 0xE0) == 0xC0) {
            code = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            code = c & 0x0F;
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            code = c & 0x07;
            len = 4;
        } else {
            out += '?';
            ++i;
            continue;
        }
        bool ok = i + len <= utf8.size();
        for (size_t k = 1; ok && k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
            if ((cc & 0xC0) != 0x80)
                ok = false;
            else
                code = (code << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        i += len;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else {
            auto it = rev.find(code);
            out += it == rev.end() ? '?' : static_cast<char>(it->second);
        }
    }
    return out;
}

const std::array<char, 256>& byteTranslation(CodePage from, CodePage to) {
    using Table = std::array<char, 256>;
    static const std::array<Table, 9> tables = [] {
        std::array<Table, 9> all{};
        for (int f = 0; f < 3; ++f)
            for (int t = 0; t < 3; ++t) {
                Table& table = all[static_cast<size_t>(f * 3 + t)];
                for (int b = 0; b < 256; ++b) {
                    const std::string one(1, static_cast<char>(b));
                    const std::string converted =
                        fromUtf8(toUtf8(one, static_cast<CodePage>(f)), static_cast<CodePage>(t));
                    table[static_cast<size_t>(b)] = converted.size() == 1 ? converted[0] : '?';
                }
            }
        return all;
    }();
    return tables[static_cast<size_t>(static_cast<int>(from) * 3 + static_cast<int>(to))];
}

CodePage codePageFromLanguageDriver(uint8_t driver) {
    switch (driver) {
    case 0x02:
        return CodePage::Oem850;
    case 0x03:
    case 0x57:
    case 0x58:
    case 0x59:
        return CodePage::Windows1252;
    default:
        return CodePage::Oem437;
    }
}

uint8_t languageDriverFor(CodePage cp) {
    switch (cp) {
    case CodePage::Oem437:
        return 0x01;
    case CodePage::Oem850:
        return 0x02;
    case CodePage::Windows1252:
        return 0x03;
    }
    return 0x01;
}

} // namespace kes
