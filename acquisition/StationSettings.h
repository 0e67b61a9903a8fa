#pragma once
// The station's configuration as read from ORVI2.ini when the frame is
// created. The frame fills it once; every part of the controller reads it.
#include "imaging/FrameGeometry.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvi {

struct CStationSettings {
    std::string m_strIniPath;
    std::string m_strImagePath;  // IMAGE_PATH, ending in '/' when non-empty
    std::string m_strCalPath;    // CAL_PATH, ending in '/' when non-empty
    int32_t m_nStdDevOption = 0;
    int32_t m_nDoseIndicator = 0;
    int32_t m_nMedianFilter = 0;
    int32_t m_nCalibration = 0;
    int32_t m_nImageWidth = 0;
    int32_t m_nImageHeight = 0;
    int32_t m_nStdDevRange = 0;
    int32_t m_nOffsetControl = 0;
    int32_t m_nCutTop = 0;
    int32_t m_nCutBottom = 0;
    int32_t m_nCutLeft = 0;
    int32_t m_nCutRight = 0;

    CImageGeometry Geometry() const {
        return CImageGeometry{m_nImageWidth, m_nImageHeight, m_nCutTop, m_nCutBottom, m_nCutLeft, m_nCutRight};
    }
    // Pixels of one uncut frame.
    size_t FramePixels() const { return static_cast<size_t>(m_nImageWidth) * static_cast<size_t>(m_nImageHeight); }
};

}  // namespace orvi
