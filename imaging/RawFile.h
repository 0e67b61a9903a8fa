#pragma once
// Headerless RAW image files: 16-bit unsigned pixels, least significant byte
// first, row after row, nothing else. Their size is not stored; readers take it
// from the configured geometry. Also the names of the calibration files, which
// carry the frame's mean level, and the listing of the calibration folder.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
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

// A calibration file: the name ends in ".raw" or ".RAW", contains "BRIGHT" or
// "DARK" (case-sensitive) and is not hidden (a leading '.': the temporaries of
// a write in progress). BPM.RAW is not one.
bool IsCalibrationFileName(const std::string& strName);

// The calibration files of a folder, sorted by name (so the bright files come
// by level, before the dark file). Folders are skipped. A missing or
// unreadable folder lists nothing.
std::vector<std::string> ListCalibrationFiles(const std::string& strFolder);

// Deletes every calibration file of the folder whose name contains "DARK",
// except strKeep (the dark file just written after an exposure).
void DeleteDarkFiles(const std::string& strFolder, const std::string& strKeep = std::string());

// Mean level of a frame: sum / count, truncating toward zero (0 when empty).
int64_t FrameMean(const uint16_t* pPixels, size_t nPixels);

// Bright minus dark, in place: for every pixel d = bright[i] - frame[i] as a
// signed integer, frame[i] = low 16 bits of d. Returns the mean of d
// (64-bit sum / count, truncating toward zero).
int64_t BrightMinusDark(const uint16_t* pBright, uint16_t* pFrame, size_t nPixels);

// ---- Files ---------------------------------------------------------------

// Writes nBytes bytes as the whole content of strPath, replacing an existing
// file. The data goes to a hidden temporary name in the same folder first
// (".NAME.part-PID-N"), is flushed to disk, and is renamed over the name in one
// step only when every byte is written; then the folder is flushed. So a
// program watching the folder never sees a partial file, and at every moment,
// also after a crash or a power cut, the name holds either the old or the new
// file. On any failure (folder missing or not writable, disk full) the
// temporary file is removed, the old file stays, false is returned and
// *pnError receives the errno of the failing call.
bool WriteFileReplacing(const std::string& strPath, const void* pData, size_t nBytes, int* pnError = nullptr);

// The same for content made in pieces (an encoder's output): fnProduce hands
// each piece to the sink it is given, which returns false when the piece
// could not be written; fnProduce returns false to abandon the file. The
// temporary file is renamed into place only when fnProduce returns true and
// every piece was written.
using ByteSink = std::function<bool(const void* pData, size_t nBytes)>;
bool WriteFileReplacingFrom(const std::string& strPath, const std::function<bool(const ByteSink& fnWrite)>& fnProduce,
                            int* pnError = nullptr);

// How a replace may spend less of the caller's time on a large file.
struct CReplaceOptions {
    // The pieces are written on the file thread while fnProduce goes on, and
    // each is pushed toward the disk at once (sync_file_range), so that the
    // final flush waits for little. Every piece's bytes must stay as they are
    // until the replace returns. A write error shows in the next piece's
    // sink call and in the result.
    bool bWriteBehind = false;
    // The replaced file is kept open across the rename and closed on the file
    // thread afterwards: the file system frees a large file's blocks when its
    // last reference goes, which takes milliseconds. The name holds the new
    // file when the replace returns, as without this.
    bool bReleaseOldLater = false;
    // With bWriteBehind: runs on the caller's thread once fnProduce has
    // returned, while the file thread writes the last pieces and flushes the
    // file; the rename follows when both are done.
    std::function<void()> fnWhileFlushing;
};
bool WriteFileReplacingFrom(const std::string& strPath, const std::function<bool(const ByteSink& fnWrite)>& fnProduce,
                            const CReplaceOptions& options, int* pnError = nullptr);

// ---- The file thread -----------------------------------------------------

// One long-lived thread for file work that should not hold up the caller:
// jobs run one after another in the order posted. Started at first use and
// kept to the end of the process; when no thread can be started, a job runs
// at once on the caller's thread. The future is ready when the job has run.
std::future<void> PostToFileThread(std::function<void()> fnJob);

// Writes nPixels pixels as a RAW file at strPath through WriteFileReplacing.
bool WriteRawFile(const std::string& strPath, const uint16_t* pPixels, size_t nPixels, int* pnError = nullptr);

// strerror of an errno, "unknown error" for 0.
std::string FileErrorText(int nError);

// A temporary name of WriteFileReplacing (of this or another station).
bool IsTemporaryName(const std::string& strName);

// Removes the temporaries a station left in the folder when it ended in the
// middle of a write: those of processes that no longer run, and those with
// this process's pid that are older than tStarted (the pid was reused). A
// live process's temporaries stay. Returns the paths removed.
std::vector<std::string> RemoveStaleTemporaries(const std::string& strFolder,
                                                std::chrono::system_clock::time_point tStarted);

// Test hook: called with the step number (0 open, 1 write, 2 fsync, 3 close,
// 4 rename, 5 folder fsync, 6 done) before each file-system call of
// WriteFileReplacing. Null in the program.
extern void (*g_pfnReplaceStepHook)(int nStep);

enum class RawRead {
    Ok,
    OpenFailed,  // missing, not a regular file, not readable, or a read error
    TooShort,    // fewer than the needed bytes: refused, the buffer is left as it was
};

// Reads the first nPixels pixels of a RAW file. A longer file is fine (its
// first nPixels are taken); a shorter one is refused. *pnFileBytes receives
// the file's size when the file could be opened.
RawRead ReadRawFile(const std::string& strPath, uint16_t* pPixels, size_t nPixels, uint64_t* pnFileBytes = nullptr);

// Opens the file and checks that it holds at least nPixels pixels, without
// reading them.
RawRead CheckRawFile(const std::string& strPath, size_t nPixels, uint64_t* pnFileBytes = nullptr);

// Open File: reads at most nMaxPixels pixels from the start of the file into
// pPixels and zero-fills the rest, so a short file shows what it holds.
// Returns false when the file cannot be opened or read.
bool ReadRawFileUpTo(const std::string& strPath, uint16_t* pPixels, size_t nMaxPixels);

// The log line of a refused short file, e.g.
// "Dark file too short: /cal/DARK_00100.RAW holds 1000 bytes, 18874368 needed".
std::string ShortFileLogLine(const std::string& strWhat, const std::string& strPath, uint64_t nFileBytes,
                             uint64_t nNeededBytes);

}  // namespace orvi
