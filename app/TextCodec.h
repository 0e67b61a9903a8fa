#pragma once
// Conversions between UTF-8 (the program's narrow text) and UTF-16LE (files of
// the host program and UTF-16 configuration files). Malformed input never
// fails: bad sequences become U+FFFD.
#include <string>

namespace orvi {

std::u16string Utf8ToUtf16(const std::string& strUtf8);
std::string Utf16ToUtf8(const std::u16string& strUtf16);

// Little-endian bytes <-> UTF-16 code units. An odd final byte is ignored.
std::u16string BytesToUtf16Le(const std::string& strBytes);
std::string Utf16LeToBytes(const std::u16string& strUtf16);

// The first `nMax` code points of a UTF-8 text (a broken sequence counts as
// one code point per byte), never cutting inside a sequence.
std::string TruncateCodePoints(const std::string& strUtf8, size_t nMax);

// Cuts a UTF-8 text to at most `nMaxBytes` bytes without splitting a sequence.
std::string TruncateBytes(const std::string& strUtf8, size_t nMaxBytes);

}  // namespace orvi
