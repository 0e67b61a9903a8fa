#include "imaging/ImagePipeline.h"

#include "acquisition/UiPort.h"
#include "app/EventLog.h"
#include "imaging/Calibration.h"
#include "imaging/CalibrationStore.h"
#include "imaging/PostProcess.h"
#include "imaging/RawFile.h"

#include <memory>
#include <utility>

namespace orvi {

bool ProcessExposureImage(uint16_t* pFrame, const CImageSettings& s, const std::string& strImageFile, IUiPort& ui,
                          CGainResult* pGainUsed, std::shared_ptr<const CCalibrationSet>* ppSetUsed) {
    const CImageGeometry& g = s.geometry;
    if (!g.IsValid()) {
        ui.ShowWarning(kImageFileCreationFail);
        return false;
    }
    std::shared_ptr<const CCalibrationSet> pSet;
    if (s.nCalibration != 0 && s.pCalibrationStore != nullptr)
        pSet = s.pCalibrationStore->Get(s.strCalFolder, g.nWidth, g.nHeight);
    if (ppSetUsed != nullptr) *ppSetUsed = pSet;
    if (s.nCalibration != 0 && s.bNoDark) {
        WriteLog("No dark after the image: gain correction left out");
    } else if (s.nCalibration != 0) {
        CGainResult gain = ApplyGainFromSets(pFrame, g.nWidth, g.nHeight, s.strCalFolder, ui, s.pDarkInMemory,
                                             s.strDarkInMemory, pSet.get());
        if (pGainUsed != nullptr) *pGainUsed = std::move(gain);
    }
    if (s.nOffsetControl != 0) ApplyOffset(pFrame, g.Pixels(), s.nOffsetControl);
    if (s.nCalibration != 0) ApplyBadPixelMap(pFrame, g.nWidth, g.nHeight, s.strCalFolder, ui, pSet.get());
    if (s.nMedianFilter != 0) MedianFilter3x3(pFrame, g.nWidth, g.nHeight);
    CutImage(pFrame, g);
    int nError = 0;
    if (!WriteRawFile(strImageFile, pFrame, g.CutPixels(), &nError)) {
        WriteLog(FileFailLogLine("Image file creation fail", strImageFile, nError));
        ui.ShowWarning(kImageFileCreationFail);
        return false;
    }
    return true;
}

std::string FileFailLogLine(const std::string& strWhat, const std::string& strPath, int nError) {
    return strWhat + ": " + strPath + ": " + FileErrorText(nError);
}

}  // namespace orvi
