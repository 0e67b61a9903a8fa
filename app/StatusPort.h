#pragma once
// The part of the UI port that an image sink outside the controller needs:
// the status bar and the report of a saved file. The UI port extends it.
#include <cstdint>
#include <string>

namespace orvi {

class IStatusPort {
public:
    virtual ~IStatusPort() = default;

    // Text of a status bar pane (0 to 4).
    virtual void SetStatusText(int32_t nPane, const std::string& strText) = 0;

    // A file the program saved: the image, a dark or bright calibration file,
    // BPM.RAW, a DICOM file. For front ends that report them (the headless station).
    virtual void FileSaved(const std::string& /*strPath*/) {}
};

}  // namespace orvi
