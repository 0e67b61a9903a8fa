#pragma once
// INI profile access with the rules of the platform's private-profile functions:
// - section and key names match without regard to ASCII case; the first
//   occurrence of a section, and of a key within it, wins;
// - a missing key (or a missing file) gives the default;
// - an integer is read from the value's leading digits with an optional sign;
//   a value that does not start with one reads as 0, an empty value gives the
//   default, and values beyond the 32-bit range saturate;
// - a text value is cut to size - 1 characters (code points, never half a
//   UTF-8 sequence); a value enclosed in matching single or double quotes
//   loses them;
// - a write creates the file, the section or the key as needed, replaces a
//   value in place and keeps every other byte of the file, including comments,
//   line ends and the encoding (UTF-8, UTF-8 with BOM, or UTF-16LE with BOM).
// Hostile files (binary garbage, very long lines, an odd UTF-16 byte count,
// duplicate sections or keys) read without harm.
#include <cstdint>
#include <string>

namespace orvi {

// Reads an integer value. Missing file, section or key: `nDefault`.
int32_t ReadProfileInt(const std::string& strPath, const std::string& strSection, const std::string& strKey,
                       int32_t nDefault);

// Reads a text value into at most `nSize` - 1 characters. Missing: `strDefault`
// (also cut to `nSize` - 1 characters). `nSize` of 0 yields "".
std::string ReadProfileText(const std::string& strPath, const std::string& strSection, const std::string& strKey,
                            const std::string& strDefault, size_t nSize);

// Writes `strKey`=`strValue` into `strSection`. Returns false when the file
// cannot be written (callers that do not care may ignore it).
bool WriteProfileText(const std::string& strPath, const std::string& strSection, const std::string& strKey,
                      const std::string& strValue);

// Decimal text-to-integer conversion used for "text integer" keys: optional
// leading blanks and sign, then leading digits; anything else gives 0.
int32_t TextToInt(const std::string& strText);

}  // namespace orvi
