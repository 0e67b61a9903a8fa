#include "imaging/ImagePipeline.h"

#include "acquisition/UiPort.h"
#include "imaging/Calibration.h"
#include "imaging/PostProcess.h"
#include "imaging/RawFile.h"

#include <utility>

namespace orvi {

bool ProcessExposureImage(uint16_t* pFrame, const CImageSettings& s, const std::string& strImageFile, IUiPort& ui,
                          CGainResult* pGainUsed) {
    const CImageGeometry& g = s.geometry;
    if (!g.IsValid()) {
        ui.ShowWarning(kImageFileCreationFail);
        return false;
    }
    if (s.nCalibration != 0) {
        CGainResult gain = ApplyGainFromSets(pFrame, g.nWidth, g.nHeight, s.strCalFolder, ui);
        if (pGainUsed != nullptr) *pGainUsed = std::move(gain);
    }
    if (s.nOffsetControl != 0) ApplyOffset(pFrame, g.Pixels(), s.nOffsetControl);
    if (s.nCalibration != 0) ApplyBadPixelMap(pFrame, g.nWidth, g.nHeight, s.strCalFolder, ui);
    if (s.nMedianFilter != 0) MedianFilter3x3(pFrame, g.nWidth, g.nHeight);
    CutImage(pFrame, g);
    if (!WriteRawFile(strImageFile, pFrame, g.CutPixels())) {
        ui.ShowWarning(kImageFileCreationFail);
        return false;
    }
    return true;
}

}  // namespace orvi
