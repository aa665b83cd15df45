// Conversion between the program's UTF-8 text and the one-byte code pages that
// xBase tables and the upload file use. A character that a code page lacks
// becomes "?". Bytes below 128 are ASCII in every code page here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kes {

enum class CodePage { Oem437, Oem850, Windows1252 };

std::string toUtf8(std::string_view bytes, CodePage cp);
std::string fromUtf8(std::string_view utf8, CodePage cp);

// What each byte of code page `from` becomes in code page `to`: exactly what
// the way through UTF-8 gives ("?" for a character `to` lacks), one byte for
// one byte, so that text moves between tables without the detour.
const std::array<char, 256>& byteTranslation(CodePage from, CodePage to);

// True when every byte is below 128 (then no conversion is needed either way).
inline bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// The code page that a DBF header's language-driver byte names; tables whose
// byte names none (0x00 among them) are OEM code page 437.
CodePage codePageFromLanguageDriver(uint8_t driver);
// The language-driver byte written for a code page.
uint8_t languageDriverFor(CodePage cp);

} // namespace kes
