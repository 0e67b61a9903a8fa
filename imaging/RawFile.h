#pragma once
// Headerless RAW image files: 16-bit unsigned pixels, least significant byte
// first, row after row, nothing else. Their size is not stored; readers take it
// from the configured geometry. Also the names of the calibration files, which
// carry the frame's mean level, and the listing of the calibration folder.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvi {

inline constexpr const char* kPrefixDark = "DARK_";
inline constexpr const char* kPrefixBright = "BRIGHT_";
inline constexpr const char* kBpmFileName = "BPM.RAW";

// Failures of the writers, shown by the caller in a message box.
inline constexpr const char* kDarkFileCreationFail = "Dark file creation fail!!";
inline constexpr const char* kBrightFileCreationFail = "Bright file creation fail!!";
inline constexpr const char* kImageFileCreationFail = "Image file creation fail!!";
inline constexpr const char* kFileOpenFail = "The file open fail!!";  // Open File

// Folder + name, with a '/' between them when the folder does not end in one.
std::string JoinPath(const std::string& strFolder, const std::string& strName);

// ---- Names ---------------------------------------------------------------

// Name of a dark or bright file: prefix, the mean as five zero-padded digits,
// ".RAW". The mean is printed as its low 32 bits; a negative mean is padded as
// one below 10 ("BRIGHT_0000-12.RAW"), so names sort by level.
std::string LevelFileName(const std::string& strPrefix, int64_t nMean);

// The level of a calibration file read back from its name: the leading
// characters that occur in strPrefix and the trailing ones that occur in
// ".raw" are stripped, and the number at the start of the rest is read
// (it stops at the first non-digit: BRIGHT_0000-12.RAW reads as 0).
int32_t LevelFromFileName(const std::string& strName, const std::string& strPrefix);

// A calibration file: the name contains ".raw" or ".RAW" and contains
// "BRIGHT" or "DARK" (case-sensitive). BPM.RAW is not one.
bool IsCalibrationFileName(const std::string& strName);

// The calibration files of a folder, sorted by name (so the bright files come
// by level, before the dark file). Folders are skipped. A missing or
// unreadable folder lists nothing.
std::vector<std::string> ListCalibrationFiles(const std::string& strFolder);

// Deletes every file of the folder whose name contains "DARK" and ".raw" or
// ".RAW" (before a new dark file after an exposure is written).
void DeleteDarkFiles(const std::string& strFolder);

// Mean level of a frame: sum / count, truncating toward zero (0 when empty).
int64_t FrameMean(const uint16_t* pPixels, size_t nPixels);

// Bright minus dark, in place: for every pixel d = bright[i] - frame[i] as a
// signed integer, frame[i] = low 16 bits of d. Returns the mean of d
// (64-bit sum / count, truncating toward zero).
int64_t BrightMinusDark(const uint16_t* pBright, uint16_t* pFrame, size_t nPixels);

// ---- Files ---------------------------------------------------------------

// Writes nBytes bytes as the whole content of strPath, replacing an existing
// file. The data goes to a hidden temporary name in the same folder first and
// is renamed into place only when every byte is written, so a program watching
// the folder never sees a partial file (the name appears by a rename) and an
// existing file stays intact on failure. On any failure (folder missing or not writable, disk full) the
// temporary file is removed and false returned.
bool WriteFileReplacing(const std::string& strPath, const void* pData, size_t nBytes);

// The same for content made in pieces (an encoder's output): fnProduce hands
// each piece to the sink it is given, which returns false when the piece
// could not be written; fnProduce returns false to abandon the file. The
// temporary file is renamed into place only when fnProduce returns true and
// every piece was written.
using ByteSink = std::function<bool(const void* pData, size_t nBytes)>;
bool WriteFileReplacingFrom(const std::string& strPath, const std::function<bool(const ByteSink& fnWrite)>& fnProduce);

// Writes nPixels pixels as a RAW file at strPath through WriteFileReplacing.
bool WriteRawFile(const std::string& strPath, const uint16_t* pPixels, size_t nPixels);

enum class RawRead {
    Ok,
    OpenFailed,  // missing, not a regular file, not readable, or a read error
    TooShort,    // fewer than the needed bytes: refused, the buffer is left as it was
};

// Reads the first nPixels pixels of a RAW file. A longer file is fine (its
// first nPixels are taken); a shorter one is refused. *pnFileBytes receives
// the file's size when the file could be opened.
RawRead ReadRawFile(const std::string& strPath, uint16_t* pPixels, size_t nPixels,
                    uint64_t* pnFileBytes = nullptr);

// Opens the file and checks that it holds at least nPixels pixels, without
// reading them.
RawRead CheckRawFile(const std::string& strPath, size_t nPixels, uint64_t* pnFileBytes = nullptr);

// Open File: reads at most nMaxPixels pixels from the start of the file into
// pPixels and zero-fills the rest, so a short file shows what it holds.
// Returns false when the file cannot be opened or read.
bool ReadRawFileUpTo(const std::string& strPath, uint16_t* pPixels, size_t nMaxPixels);

// The log line of a refused short file, e.g.
// "Dark file too short: /cal/DARK_00100.RAW holds 1000 bytes, 18874368 needed".
std::string ShortFileLogLine(const std::string& strWhat, const std::string& strPath,
                             uint64_t nFileBytes, uint64_t nNeededBytes);

}  // namespace orvi
