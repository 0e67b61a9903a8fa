#include "imaging/ImagePipeline.h"

#include "app/Report.h"
#include "imaging/Calibration.h"
#include "imaging/CalibrationStore.h"
#include "imaging/FrameBuffer.h"
#include "imaging/Parallel.h"
#include "imaging/PostProcess.h"
#include "imaging/RawFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

namespace orvi {

CExposureWorkspace::CExposureWorkspace() = default;
CExposureWorkspace::~CExposureWorkspace() = default;

uint16_t* CExposureWorkspace::CutImage(size_t nPixels) {
    if (!m_pCut || m_nCutPixels < nPixels) {
        m_pCut.reset();
        m_nCutPixels = 0;
        auto pCut = std::make_unique<CFrameBuffer>(nPixels);
        if (!*pCut) return nullptr;
        std::memset(pCut->get(), 0, nPixels * sizeof(uint16_t));  // its pages touched once, here
        m_pCut = std::move(pCut);
        m_nCutPixels = nPixels;
    }
    return m_pCut->get();
}

namespace {

// Rows of a band: about 1 MiB of the frame, so that a band's rows are still
// in the caches when the next step reads them, and the first band reaches
// the disk early. At least 4 rows: a step reads 2 rows beyond its band.
int32_t BandRows(int32_t nWidth) {
    return std::max<int32_t>(4, int32_t((size_t{1} << 20) / (size_t(nWidth) * sizeof(uint16_t))));
}

}  // namespace

bool ProcessExposureImage(uint16_t* pFrame, const CImageSettings& s, const std::string& strImageFile, CReport& report,
                          CGainResult* pGainUsed, std::shared_ptr<const CCalibrationSet>* ppSetUsed) {
    const CImageGeometry& g = s.geometry;
    if (!g.IsValid()) {
        report.Warn(kImageFileCreationFail);
        return false;
    }
    const int32_t W = g.nWidth, H = g.nHeight;
    const size_t w = size_t(W);
    const size_t nPixels = g.Pixels();
    std::shared_ptr<const CCalibrationSet> pSet;
    if (s.nCalibration != 0 && s.pCalibrationStore != nullptr) pSet = s.pCalibrationStore->Get(s.strCalFolder, W, H);
    if (ppSetUsed != nullptr) *ppSetUsed = pSet;

    // What the steps need, read, checked and reported before any pixel changes.
    CGainInputs gain;
    bool bGain = false;
    if (s.nCalibration != 0 && s.bNoDark) {
        report.Log("No dark after the image: gain correction left out");
    } else if (s.nCalibration != 0) {
        CGainResult result =
            PrepareGainFromSets(W, H, s.strCalFolder, report, s.pDarkInMemory, s.strDarkInMemory, pSet.get(), gain);
        bGain = result.bApplied;
        if (pGainUsed != nullptr) *pGainUsed = std::move(result);
    }
    std::unique_ptr<CFrameBuffer> pMapRead;
    const uint16_t* pMap =
        s.nCalibration != 0 ? PrepareBadPixelMap(W, H, s.strCalFolder, report, pSet.get(), pMapRead) : nullptr;
    const bool bMedian = s.nMedianFilter != 0;

    std::unique_ptr<CExposureWorkspace> pOwnWorkspace;
    CExposureWorkspace* pWorkspace = s.pWorkspace;
    if (pWorkspace == nullptr) {
        pOwnWorkspace = std::make_unique<CExposureWorkspace>();
        pWorkspace = pOwnWorkspace.get();
    }
    uint16_t* pCut = pWorkspace->CutImage(g.CutPixels());
    int nError = 0;
    bool bWritten = false;
    if (pCut == nullptr) {
        // No memory for the cut image: the steps in turn on the whole frame,
        // then the file.
        report.Log("No memory for the cut image: the image is processed in place");
        if (bGain) GainCorrectPixels(pFrame, gain, 0, nPixels);
        if (s.nOffsetControl != 0) ApplyOffset(pFrame, nPixels, s.nOffsetControl);
        if (pMap != nullptr) BadPixelCorrect(pFrame, pMap, W, H);
        if (bMedian) MedianFilter3x3(pFrame, W, H);
        CutImage(pFrame, g);
        bWritten = WriteRawFile(strImageFile, pFrame, g.CutPixels(), &nError);
    } else {
        // Band k of the frame goes through the steps in three stages: gain
        // and offset (A), bad pixels (B, which reads 2 rows beyond the band:
        // A of the next band first), median and cut into pCut (C, which reads
        // 1 row beyond: B of the next band first). Every stage spreads over
        // the threads; the bands of the cut image go to the file as C ends.
        const size_t nWorkers = WorkerCount(nPixels, size_t{1} << 18);
        const int32_t nBandRows = s.nBandRows > 0 ? std::max(4, s.nBandRows) : BandRows(W);
        const int32_t nBands = (H + nBandRows - 1) / nBandRows;
        auto band = [&](int32_t k) { return std::pair{k * nBandRows, std::min(H, (k + 1) * nBandRows)}; };
        auto stageA = [&](int32_t k) {
            if (k >= nBands || (!bGain && s.nOffsetControl == 0)) return;
            const auto [r0, r1] = band(k);
            RunRanges(size_t(r1 - r0) * w, nWorkers, [&](size_t b, size_t e) {
                const size_t i0 = size_t(r0) * w + b, i1 = size_t(r0) * w + e;
                if (bGain) GainCorrectPixels(pFrame, gain, i0, i1);
                if (s.nOffsetControl != 0) ApplyOffset(pFrame + i0, i1 - i0, s.nOffsetControl);
            });
        };
        auto stageB = [&](int32_t k) {
            if (k >= nBands || pMap == nullptr) return;
            const auto [r0, r1] = band(k);
            BadPixelCorrectRows(pFrame, pMap, W, H, r0, r1, nWorkers);
        };
        const size_t nCutRowBytes = size_t(g.CutWidth()) * sizeof(uint16_t);
        auto produce = [&](const ByteSink* pSink) {
            size_t nHanded = 0;  // bytes of pCut given to the file
            stageA(0);
            stageA(1);
            stageB(0);
            for (int32_t k = 0; k < nBands; ++k) {
                stageA(k + 2);
                stageB(k + 1);
                const auto [r0, r1] = band(k);
                MedianCutRows(pFrame, g, bMedian, pCut, r0, r1, nWorkers);
                const int32_t nCutRows = std::clamp(r1 - g.nCutTop, 0, g.CutHeight());
                const size_t nReady = size_t(nCutRows) * nCutRowBytes;
                if (pSink != nullptr && nReady > nHanded) {
                    (*pSink)(reinterpret_cast<const char*>(pCut) + nHanded, nReady - nHanded);
                    nHanded = nReady;
                }
            }
        };
        // The frame receives the cut image as CutImage leaves it.
        auto copyBack = [&] {
            const size_t nCut = g.CutPixels();
            RunRanges(nCut, WorkerCount(nCut, size_t{1} << 19),
                      [&](size_t b, size_t e) { std::memcpy(pFrame + b, pCut + b, (e - b) * sizeof(uint16_t)); });
        };
        bool bProduced = false;
        CReplaceOptions options;
        options.bWriteBehind = true;
        options.bReleaseOldLater = true;
        options.fnWhileFlushing = copyBack;  // while the file's last band goes to the disk
        bWritten = WriteFileReplacingFrom(
            strImageFile,
            [&](const ByteSink& fnWrite) {
                bProduced = true;
                produce(&fnWrite);
                return true;
            },
            options, &nError);
        // A file that could not even be opened: the image is made all the same,
        // for the view and the other sinks.
        if (!bProduced) {
            produce(nullptr);
            copyBack();
        }
    }
    if (!bWritten) {
        report.Log(FileFailLogLine("Image file creation fail", strImageFile, nError));
        report.Warn(kImageFileCreationFail);
        return false;
    }
    return true;
}

std::string FileFailLogLine(const std::string& strWhat, const std::string& strPath, int nError) {
    return strWhat + ": " + strPath + ": " + FileErrorText(nError);
}

}  // namespace orvi
