#include "app/EventLog.h"

#include "app/TextCodec.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace orvi {

int32_t g_bWriteLog = 0;
uint32_t g_dwStartTick = 0;

namespace {

std::function<uint32_t()>& Clock() {
    static std::function<uint32_t()> fn;
    return fn;
}

uint32_t SteadyTick() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string& Path() {
    static std::string str = kLogFileName;
    return str;
}

}  // namespace

void SetLogClock(std::function<uint32_t()> fnNowMs) { Clock() = std::move(fnNowMs); }
uint32_t LogTickNow() { return Clock() ? Clock()() : SteadyTick(); }

void SetLogPath(const std::string& strPath) { Path() = strPath; }
const std::string& LogPath() { return Path(); }

void DeleteLogFile() { ::unlink(Path().c_str()); }  // a file only, never a folder of that name

void StartLog() {
    g_dwStartTick = LogTickNow();
    WriteLog("start ORVI");
}

std::string FormatLogLine(const std::tm& tmLocal, uint32_t nElapsedMs, const std::string& strText) {
    std::string strMessage = TruncateBytes(strText, kLogMessageBytes);
    char szHead[96];
    std::snprintf(szHead, sizeof szHead, "%02d-%02d-%04d %02d:%02d:%02d [%5d ms] ", tmLocal.tm_mon + 1, tmLocal.tm_mday,
                  tmLocal.tm_year + 1900, tmLocal.tm_hour, tmLocal.tm_min, tmLocal.tm_sec,
                  static_cast<int32_t>(nElapsedMs));
    return szHead + strMessage + "\n";
}

namespace {

std::function<void(const std::string&)>& Observer() {
    static std::function<void(const std::string&)> fn;
    return fn;
}

}  // namespace

void SetLogObserver(std::function<void(const std::string&)> fnObserver) { Observer() = std::move(fnObserver); }

void WriteLog(const std::string& strText) {
    // One line at a time from any thread (the outbox and file workers log too).
    static std::recursive_mutex s_mutex;
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    if (Observer()) Observer()(strText);
    if (g_bWriteLog == 0) return;
    std::time_t t = std::time(nullptr);
    std::tm tmLocal{};
    localtime_r(&t, &tmLocal);
    uint32_t nElapsed = LogTickNow() - g_dwStartTick;
    std::string strLine = FormatLogLine(tmLocal, nElapsed, strText);
    std::FILE* fp = std::fopen(Path().c_str(), "ab");
    if (!fp) return;  // e.g. a read-only working folder: the line is dropped
    std::fwrite(strLine.data(), 1, strLine.size(), fp);
    std::fclose(fp);
}

}  // namespace orvi
