#pragma once
// An existing RAW file as a DX file: a headerless image of a size given on
// the command line, or an image of the history with its JSON sidecar (which
// names its width and height). The content is that of an exposure's file;
// the acquisition time is the RAW file's modification time. The exposure
// index of a history image is the one its sidecar kept (worked out at the
// exposure, over a gain correction from the signal before its limit); that
// of any other RAW file is worked out from its pixels.
#include "export/dicom/DicomSink.h"
#include "imaging/ImageHistory.h"

#include <optional>
#include <string>

namespace orvi::dicom {

struct CExportRequest {
    std::string strRawFile;
    int32_t nWidth = 0;  // 0: from the sidecar
    int32_t nHeight = 0;
    std::string strOutFile;
    CPatientStudy patient;
    CDicomSettings settings;  // UID root, transfer, pitch, station; the folder is not used
};

// The sidecar of a history image: the same name with ".json", read as the
// history reads it (imaging/ImageHistory.h). Its "width" and "height"; false
// with a reason when the file is missing or names no usable size.
bool ReadSidecarSize(const std::string& strRawFile, int32_t& nWidth, int32_t& nHeight, std::string& strError);
// The same, with the rest of what the sidecar says.
bool ReadSidecar(const std::string& strRawFile, CHistoryEntry& entry, std::string& strError);

// Writes the file; on failure false with a reason a person can act on.
bool ExportRawFile(const CExportRequest& request, CExposureIndex& ei, std::string& strError);

}  // namespace orvi::dicom
