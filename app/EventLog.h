#pragma once
// The event log "ORVI_LOG.txt": one time-stamped line per event, for service
// staff. Every line is appended and the file closed again, so the log is
// complete on disk after each line. A line that cannot be written is dropped.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace orvi {

extern int32_t g_bWriteLog;     // WRITE_LOG; 0 until the configuration is read
extern uint32_t g_dwStartTick;  // tick taken just before "start ORVI"

inline constexpr const char* kLogFileName = "ORVI_LOG.txt";
inline constexpr size_t kLogMessageBytes = 255;  // message text beyond this is cut

// The tick source (milliseconds, wrapping at 32 bits); the main frame sets the
// clock of its timer service. An empty function restores the steady clock.
void SetLogClock(std::function<uint32_t()> fnNowMs);
uint32_t LogTickNow();

// Where the log lives; by default "ORVI_LOG.txt" in the working folder.
void SetLogPath(const std::string& strPath);
const std::string& LogPath();

// Start of a run: the old log is deleted whether or not logging is on.
void DeleteLogFile();

// Takes g_dwStartTick and writes "start ORVI".
void StartLog();

void WriteLog(const std::string& strText);

// A function shown every message WriteLog receives, whether or not the log
// is written (the headless station keeps the last one); empty: none.
void SetLogObserver(std::function<void(const std::string&)> fnObserver);

// One log line with its '\n', from a local time, an elapsed tick count and a message.
std::string FormatLogLine(const std::tm& tmLocal, uint32_t nElapsedMs, const std::string& strText);

}  // namespace orvi
