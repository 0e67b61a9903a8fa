#pragma once
// The exposure index, worked out by the controller for every exposure
// (imaging/ExposureIndex.h), under the names the DICOM code uses.
#include "display/AutoWindow.h"
#include "imaging/ExposureIndex.h"

#include <algorithm>

namespace orvi::dicom {

using orvi::dose::CentralRegion;
using orvi::dose::CExposureIndex;
using orvi::dose::CExposureIndexSettings;
using orvi::dose::CGainInputs;
using orvi::dose::ClassifyDeviation;
using orvi::dose::ComputeExposureIndex;
using orvi::dose::CPixelRect;
using orvi::dose::CSignalSource;
using orvi::dose::CWindow;
using orvi::dose::DoseLevelColour;
using orvi::dose::DoseLevelText;
using orvi::dose::EDoseLevel;
using orvi::dose::ExposedField;
using orvi::dose::ExposureIndexOf;
using orvi::dose::ExposureIndexText;
using orvi::dose::ExposureIndexWords;
using orvi::dose::ReadExposureIndexSettings;

// The window of an image written with no window of the front end: the
// automatic window the view gives a new image, so a file made without a
// screen looks as it would have on one.
inline CWindow AutomaticWindow(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight) {
    const CWindowLevel wl = ComputeAutoWindow(pPixels, nWidth, nHeight);
    return CWindow{double(wl.nLevel), double(std::max(1, wl.nWidth))};
}

}  // namespace orvi::dicom
