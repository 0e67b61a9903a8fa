#pragma once
// The small files in the image folder through which a host program follows
// the acquisition. Their mere presence is the message; all but the dose file
// are empty.
#include <cstdint>
#include <string>

namespace orvi {

inline constexpr const char* kMsgConnectionSuccess = "Connection success";
inline constexpr const char* kMsgDetectorReady = "Detector 2 ready";
inline constexpr const char* kFileConnectionSuccess = "Connection success.txt";
inline constexpr const char* kFileDetectorReady = "Detector 2 ready.txt";
inline constexpr const char* kFileImageComing = "Image coming.txt";
inline constexpr const char* kFileDoseIndicator = "doseindicator.txt";
inline constexpr const char* kFileTextIconExposure = "TEXT_ICON_Exposure.txt";
inline constexpr const char* kMessageFileCreationFail = "Message file creation fail!!";

// Creates (or truncates) folder + name as an empty file. False when it cannot.
bool CreateEmptyFile(const std::string& strFolder, const std::string& strFileName);
// Deletes the file folder + name; a missing file is not an error, and a
// folder of that name is left alone.
void DeleteFileIn(const std::string& strFolder, const std::string& strFileName);

// The content of "doseindicator.txt": the value's decimal digits ("%d") as
// UTF-16 little-endian, without byte-order mark, terminator or line end.
std::string DoseIndicatorBytes(int32_t nValue);
// Writes "doseindicator.txt" in the folder, replacing an earlier one whole (a
// host never reads a half-written value). False when it cannot be written.
bool WriteDoseIndicatorFile(const std::string& strFolder, int32_t nValue);

}  // namespace orvi
