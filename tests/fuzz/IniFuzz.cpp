// ORVI2.ini reader and writer on any file: reads never fail or run past the
// file; a written value reads back; the other keys read as before; writing
// the same value again changes no byte.
#include "FuzzSupport.h"

#include "app/Profile.h"

#include <fstream>
#include <iterator>
#include <vector>

using orvi::fuzz::CInput;

namespace {

const char* const kKeys[] = {"IMAGE_NAME", "IMAGE_PATH",     "CAL_PATH", "EXP_DELAY", "image_width",
                             "COM_NAME_1", "ADAPTER_NAME_1", "SEED",     "",          "A"};
const char* const kSections[] = {"CONFIG", "config", "SIMULATOR", "X"};

std::string ReadAll(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A value and a key the rules can carry unchanged: no blanks at the ends, no
// quotes, no line ends, no '=' in the key.
std::string Plain(const std::string& s, bool bKey) {
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
            (!bKey && (c == '/' || c == '-')))
            out.push_back(char(c));
    }
    return out;
}

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        char x = a[k], y = b[k];
        if (x >= 'a' && x <= 'z') x = char(x - 32);
        if (y >= 'a' && y <= 'z') y = char(y - 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CInput in(pData, nSize);
    const std::string strPath = orvi::fuzz::ScratchFolder() + "ORVI2.ini";
    const std::string strSection = kSections[in.Byte() % 4];
    std::string strKey = Plain(in.Bytes(in.Byte() % 16), true);
    if (strKey.empty()) strKey = kKeys[in.Byte() % 8];
    const std::string strValue = Plain(in.Bytes(in.Byte() % 64), false);
    const std::string strFile = in.Rest();
    orvi::fuzz::WriteBytes(strPath, strFile.data(), strFile.size());

    // Every key of interest, as read before the write.
    std::vector<std::string> before;
    for (const char* szSection : kSections)
        for (const char* szKey : kKeys) {
            before.push_back(orvi::ReadProfileText(strPath, szSection, szKey, "<none>", 4096));
            (void)orvi::ReadProfileInt(strPath, szSection, szKey, -1);
        }

    if (!orvi::WriteProfileText(strPath, strSection, strKey, strValue)) return 0;
    const std::string strAfterFirst = ReadAll(strPath);
    FUZZ_CHECK(orvi::ReadProfileText(strPath, strSection, strKey, "<none>", 4096) == strValue);

    // The other keys: unchanged. (A key named like the written one is the written one.)
    size_t i = 0;
    for (const char* szSection : kSections)
        for (const char* szKey : kKeys) {
            const std::string strNow = orvi::ReadProfileText(strPath, szSection, szKey, "<none>", 4096);
            if (!(SameNoCase(szKey, strKey) && SameNoCase(szSection, strSection))) FUZZ_CHECK(strNow == before[i]);
            ++i;
        }

    // The same value again: not a byte changes.
    FUZZ_CHECK(orvi::WriteProfileText(strPath, strSection, strKey, strValue));
    FUZZ_CHECK(ReadAll(strPath) == strAfterFirst);
    return 0;
}
