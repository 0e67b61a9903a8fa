#include "app/TextCodec.h"

#include <cstdint>

namespace orvi {
namespace {

// Decodes one code point at `i`; returns its length in bytes (1 for a bad byte,
// which decodes to U+FFFD).
size_t DecodeUtf8(const std::string& s, size_t i, char32_t& cp) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    size_t n = 0;
    char32_t min = 0;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        n = 2;
        cp = c & 0x1F;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        cp = c & 0x0F;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        cp = c & 0x07;
        min = 0x10000;
    } else {
        cp = 0xFFFD;
        return 1;
    }
    if (i + n > s.size()) {
        cp = 0xFFFD;
        return 1;
    }
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            cp = 0xFFFD;
            return 1;
        }
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
        return 1;
    }
    return n;
}

void AppendUtf8(std::string& out, char32_t cp) {
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

}  // namespace

std::u16string Utf8ToUtf16(const std::string& strUtf8) {
    std::u16string out;
    out.reserve(strUtf8.size());
    for (size_t i = 0; i < strUtf8.size();) {
        char32_t cp;
        i += DecodeUtf8(strUtf8, i, cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& strUtf16) {
    std::string out;
    out.reserve(strUtf16.size());
    for (size_t i = 0; i < strUtf16.size(); ++i) {
        char32_t cp = strUtf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < strUtf16.size() && strUtf16[i + 1] >= 0xDC00 &&
            strUtf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (strUtf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::u16string BytesToUtf16Le(const std::string& strBytes) {
    std::u16string out(strBytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(strBytes[2 * i]) |
                                       (static_cast<unsigned char>(strBytes[2 * i + 1]) << 8));
    return out;
}

std::string Utf16LeToBytes(const std::u16string& strUtf16) {
    std::string out(strUtf16.size() * 2, '\0');
    for (size_t i = 0; i < strUtf16.size(); ++i) {
        out[2 * i] = static_cast<char>(strUtf16[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>(strUtf16[i] >> 8);
    }
    return out;
}

std::string TruncateCodePoints(const std::string& strUtf8, size_t nMax) {
    size_t i = 0;
    for (size_t n = 0; n < nMax && i < strUtf8.size(); ++n) {
        char32_t cp;
        i += DecodeUtf8(strUtf8, i, cp);
    }
    return strUtf8.substr(0, i);
}

std::string TruncateBytes(const std::string& strUtf8, size_t nMaxBytes) {
    size_t i = 0;
    while (i < strUtf8.size()) {
        char32_t cp;
        size_t n = DecodeUtf8(strUtf8, i, cp);
        if (i + n > nMaxBytes) break;
        i += n;
    }
    return strUtf8.substr(0, i);
}

}  // namespace orvi
