#include "app/Profile.h"

#include "app/TextCodec.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvi {
namespace {

enum class Encoding { Utf8, Utf8Bom, Utf16Le };

// The file as a sequence of code units of its own encoding, so a write touches
// only the bytes of the line it changes.
template <typename CharT>
struct Document {
    using String = std::basic_string<CharT>;
    std::vector<String> lines;  // each without its '\n'; a trailing '\r' stays
    bool bFinalNewline = false;
    bool bCrLf = false;
};

bool ReadFileBytes(const std::string& strPath, std::string& strBytes) {
    std::FILE* fp = std::fopen(strPath.c_str(), "rb");
    if (fp == nullptr) return false;
    strBytes.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) strBytes.append(buf, n);
    bool bOk = std::ferror(fp) == 0;
    std::fclose(fp);
    return bOk;
}

Encoding DetectEncoding(const std::string& strBytes) {
    if (strBytes.size() >= 2 && static_cast<unsigned char>(strBytes[0]) == 0xFF &&
        static_cast<unsigned char>(strBytes[1]) == 0xFE)
        return Encoding::Utf16Le;
    if (strBytes.size() >= 3 && static_cast<unsigned char>(strBytes[0]) == 0xEF &&
        static_cast<unsigned char>(strBytes[1]) == 0xBB && static_cast<unsigned char>(strBytes[2]) == 0xBF)
        return Encoding::Utf8Bom;
    return Encoding::Utf8;
}

template <typename CharT>
Document<CharT> SplitLines(const std::basic_string<CharT>& strText) {
    Document<CharT> doc;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find(CharT('\n'), nStart);
        if (nEnd == std::basic_string<CharT>::npos) {
            doc.lines.push_back(strText.substr(nStart));
            doc.bFinalNewline = false;
            break;
        }
        doc.lines.push_back(strText.substr(nStart, nEnd - nStart));
        doc.bFinalNewline = true;
        nStart = nEnd + 1;
    }
    if (!doc.lines.empty() && !doc.lines.front().empty() && doc.lines.front().back() == CharT('\r')) doc.bCrLf = true;
    return doc;
}

template <typename CharT>
std::basic_string<CharT> JoinLines(const Document<CharT>& doc) {
    std::basic_string<CharT> strText;
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        strText += doc.lines[i];
        if (i + 1 < doc.lines.size() || doc.bFinalNewline) strText += CharT('\n');
    }
    return strText;
}

template <typename CharT>
bool IsBlank(CharT c) {
    return c == CharT(' ') || c == CharT('\t') || c == CharT('\r') || c == CharT('\v') || c == CharT('\f');
}

template <typename CharT>
std::basic_string<CharT> Trim(const std::basic_string<CharT>& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

template <typename CharT>
CharT FoldAscii(CharT c) {
    return (c >= CharT('a') && c <= CharT('z')) ? CharT(c - CharT('a') + CharT('A')) : c;
}

template <typename CharT>
bool EqualNoCase(const std::basic_string<CharT>& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(static_cast<CharT>(static_cast<unsigned char>(b[i])))) return false;
    return true;
}

// Section name of a line "[name]", or nothing when the line is not a section.
template <typename CharT>
std::optional<std::basic_string<CharT>> SectionOf(const std::basic_string<CharT>& strLine) {
    std::basic_string<CharT> t = Trim(strLine);
    if (t.empty() || t.front() != CharT('[')) return std::nullopt;
    size_t nClose = t.find(CharT(']'));
    if (nClose == std::basic_string<CharT>::npos) return std::nullopt;
    return Trim(t.substr(1, nClose - 1));
}

// Key of a line "key=value" (nothing for comments and lines without '=').
template <typename CharT>
std::optional<std::basic_string<CharT>> KeyOf(const std::basic_string<CharT>& strLine) {
    std::basic_string<CharT> t = Trim(strLine);
    if (t.empty() || t.front() == CharT(';')) return std::nullopt;
    size_t nEq = strLine.find(CharT('='));
    if (nEq == std::basic_string<CharT>::npos) return std::nullopt;
    return Trim(strLine.substr(0, nEq));
}

template <typename CharT>
std::basic_string<CharT> ValueOf(const std::basic_string<CharT>& strLine) {
    size_t nEq = strLine.find(CharT('='));
    std::basic_string<CharT> v = Trim(strLine.substr(nEq + 1));
    if (v.size() >= 2 && (v.front() == CharT('"') || v.front() == CharT('\'')) && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

struct Location {
    bool bSection = false;
    size_t nSectionLine = 0;
    size_t nLastContent = 0;  // last non-blank line of the section (or its header)
    bool bKey = false;
    size_t nKeyLine = 0;
};

template <typename CharT>
Location Find(const Document<CharT>& doc, const std::string& strSection, const std::string& strKey) {
    Location loc;
    bool bInside = false;
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        const auto& line = doc.lines[i];
        if (auto sec = SectionOf(line)) {
            if (bInside) break;  // the first matching section has ended
            if (!loc.bSection && EqualNoCase(*sec, strSection)) {
                loc.bSection = true;
                loc.nSectionLine = loc.nLastContent = i;
                bInside = true;
            }
            continue;
        }
        if (!bInside) continue;
        if (!Trim(line).empty()) loc.nLastContent = i;
        if (!loc.bKey) {
            if (auto key = KeyOf(line); key && EqualNoCase(*key, strKey)) {
                loc.bKey = true;
                loc.nKeyLine = i;
            }
        }
    }
    return loc;
}

// A file as read and split into lines, with what identifies that version of
// it. Keys are read several times per image; the file is read and split again
// only when its inode, size, modification or change time differ (a host may
// edit it between two images, and the next read must see that).
struct CachedProfile {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    Encoding enc = Encoding::Utf8;
    Document<char> doc8;
    Document<char16_t> doc16;
    // UTF-8 files: section -> key -> value, names in upper case, of the first
    // occurrence of each section and of each key in it (the lookup rules).
    std::map<std::string, std::map<std::string, std::string>> index;
};

std::string UpperAscii(std::string s) {
    for (char& c : s) c = FoldAscii(c);
    return s;
}

void BuildIndex(CachedProfile& p) {
    std::map<std::string, std::string>* pSection = nullptr;
    for (const std::string& line : p.doc8.lines) {
        if (auto sec = SectionOf(line)) {
            auto [it, bNew] = p.index.try_emplace(UpperAscii(*sec));
            pSection = bNew ? &it->second : nullptr;  // a later block of a section is never read
            continue;
        }
        if (pSection == nullptr) continue;
        if (auto key = KeyOf(line)) pSection->try_emplace(UpperAscii(*key), ValueOf(line));
    }
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool SameVersion(const CachedProfile& c, const struct stat& st) {
    return c.dev == st.st_dev && c.ino == st.st_ino && c.size == st.st_size && SameTime(c.mtime, st.st_mtim) &&
           SameTime(c.ctime, st.st_ctim);
}

std::mutex s_cacheMutex;
std::map<std::string, std::shared_ptr<const CachedProfile>>& Cache() {
    static std::map<std::string, std::shared_ptr<const CachedProfile>> s_cache;
    return s_cache;
}

// The file's current version, or null when it cannot be read.
std::shared_ptr<const CachedProfile> LoadProfile(const std::string& strPath) {
    std::FILE* fp = std::fopen(strPath.c_str(), "rb");
    if (fp == nullptr) return nullptr;
    struct stat st {};
    if (::fstat(::fileno(fp), &st) != 0) {
        std::fclose(fp);
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(s_cacheMutex);
        auto it = Cache().find(strPath);
        if (it != Cache().end() && SameVersion(*it->second, st)) {
            std::fclose(fp);
            return it->second;
        }
    }
    std::string strBytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) strBytes.append(buf, n);
    const bool bOk = std::ferror(fp) == 0;
    std::fclose(fp);
    if (!bOk) return nullptr;
    auto p = std::make_shared<CachedProfile>();
    p->dev = st.st_dev;
    p->ino = st.st_ino;
    p->size = st.st_size;
    p->mtime = st.st_mtim;
    p->ctime = st.st_ctim;
    p->enc = DetectEncoding(strBytes);
    if (p->enc == Encoding::Utf16Le)
        p->doc16 = SplitLines(BytesToUtf16Le(strBytes.substr(2)));
    else
        p->doc8 = SplitLines(p->enc == Encoding::Utf8Bom ? strBytes.substr(3) : strBytes);
    if (p->enc != Encoding::Utf16Le) BuildIndex(*p);
    // A file that changed while it was read is not kept, nor one changed in the
    // last two seconds: a change within the same clock tick as the one before
    // leaves the times as they were, and such a file is read again until its
    // times are safely in the past.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const bool bSettled = now.tv_sec - st.st_mtim.tv_sec > 2 && now.tv_sec - st.st_ctim.tv_sec > 2;
    if (bSettled && off_t(strBytes.size()) == st.st_size) {
        std::lock_guard<std::mutex> lock(s_cacheMutex);
        Cache()[strPath] = p;
    }
    return p;
}

// The raw value of a key as UTF-8, or nothing when the file, section or key is missing.
std::optional<std::string> LookUp(const std::string& strPath, const std::string& strSection,
                                  const std::string& strKey) {
    std::shared_ptr<const CachedProfile> p = LoadProfile(strPath);
    if (!p) return std::nullopt;
    if (p->enc == Encoding::Utf16Le) {
        Location loc = Find(p->doc16, strSection, strKey);
        if (!loc.bKey) return std::nullopt;
        return Utf16ToUtf8(ValueOf(p->doc16.lines[loc.nKeyLine]));
    }
    auto itSection = p->index.find(UpperAscii(strSection));
    if (itSection == p->index.end()) return std::nullopt;
    auto itKey = itSection->second.find(UpperAscii(strKey));
    if (itKey == itSection->second.end()) return std::nullopt;
    return itKey->second;
}

template <typename CharT>
void SetValue(Document<CharT>& doc, const std::string& strSection, const std::string& strKey,
              const std::basic_string<CharT>& strValue, std::basic_string<CharT> (*widen)(const std::string&)) {
    const std::basic_string<CharT> eol = doc.bCrLf ? widen("\r") : widen("");
    Location loc = Find(doc, strSection, strKey);
    if (loc.bKey) {
        auto& line = doc.lines[loc.nKeyLine];
        bool bCr = !line.empty() && line.back() == CharT('\r');
        size_t nKeep = line.find(CharT('=')) + 1;  // keep the key and the blanks after '='
        while (nKeep < line.size() && (line[nKeep] == CharT(' ') || line[nKeep] == CharT('\t'))) ++nKeep;
        line = line.substr(0, nKeep) + strValue + (bCr ? widen("\r") : widen(""));
        return;
    }
    std::basic_string<CharT> strLine = widen(strKey) + CharT('=') + strValue + eol;
    if (loc.bSection) {
        doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(loc.nLastContent + 1), strLine);
        if (loc.nLastContent + 2 == doc.lines.size()) doc.bFinalNewline = true;
        return;
    }
    doc.lines.push_back(CharT('[') + widen(strSection) + CharT(']') + eol);
    doc.lines.push_back(strLine);
    doc.bFinalNewline = true;
}

std::string Narrow(const std::string& s) { return s; }
std::u16string Widen16(const std::string& s) { return Utf8ToUtf16(s); }

bool WriteFileAtomically(const std::string& strPath, const std::string& strBytes) {
    namespace fs = std::filesystem;
    fs::path target(strPath);
    fs::path tmp = target;
    tmp += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(tmp, ec);
            return false;
        }
    }
    struct stat st {};
    if (::stat(strPath.c_str(), &st) == 0) ::chmod(tmp.c_str(), st.st_mode & 07777);
    if (std::rename(tmp.c_str(), strPath.c_str()) != 0) {
        std::error_code ec;
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

}  // namespace

int32_t TextToInt(const std::string& strText) {
    size_t i = 0;
    while (i < strText.size() && (strText[i] == ' ' || strText[i] == '\t')) ++i;
    bool bNegative = false;
    if (i < strText.size() && (strText[i] == '+' || strText[i] == '-')) {
        bNegative = strText[i] == '-';
        ++i;
    }
    int64_t nValue = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < strText.size() && strText[i] >= '0' && strText[i] <= '9'; ++i) {
        nValue = nValue * 10 + (strText[i] - '0');
        if (nValue > kLimit) nValue = kLimit;  // saturate instead of wrapping
    }
    if (bNegative) nValue = -nValue;
    if (nValue > std::numeric_limits<int32_t>::max()) nValue = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(nValue);
}

int32_t ReadProfileInt(const std::string& strPath, const std::string& strSection, const std::string& strKey,
                       int32_t nDefault) {
    std::optional<std::string> value = LookUp(strPath, strSection, strKey);
    if (!value || value->empty()) return nDefault;
    return TextToInt(*value);
}

std::string ReadProfileText(const std::string& strPath, const std::string& strSection, const std::string& strKey,
                            const std::string& strDefault, size_t nSize) {
    if (nSize == 0) return {};
    std::optional<std::string> value = LookUp(strPath, strSection, strKey);
    return TruncateCodePoints(value ? *value : strDefault, nSize - 1);
}

bool WriteProfileText(const std::string& strPath, const std::string& strSection, const std::string& strKey,
                      const std::string& strValue) {
    std::string strBytes;
    if (!ReadFileBytes(strPath, strBytes)) strBytes.clear();  // a missing file is created
    Encoding enc = DetectEncoding(strBytes);
    std::string strOut;
    if (enc == Encoding::Utf16Le) {
        auto doc = SplitLines(BytesToUtf16Le(strBytes.substr(2)));
        SetValue<char16_t>(doc, strSection, strKey, Utf8ToUtf16(strValue), &Widen16);
        strOut = std::string("\xFF\xFE", 2) + Utf16LeToBytes(JoinLines(doc));
        // An odd trailing byte of the original cannot be a character; it is dropped.
    } else {
        bool bBom = enc == Encoding::Utf8Bom;
        auto doc = SplitLines(bBom ? strBytes.substr(3) : strBytes);
        SetValue<char>(doc, strSection, strKey, strValue, &Narrow);
        strOut = (bBom ? std::string("\xEF\xBB\xBF") : std::string()) + JoinLines(doc);
    }
    return WriteFileAtomically(strPath, strOut);
}

}  // namespace orvi
