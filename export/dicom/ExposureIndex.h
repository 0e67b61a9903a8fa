#pragma once
// The exposure index, worked out by the controller for every exposure
// (imaging/ExposureIndex.h), under the names the DICOM code uses.
#include "imaging/ExposureIndex.h"

namespace orvi::dicom {

using orvi::dose::AutomaticWindow;
using orvi::dose::CentralRegion;
using orvi::dose::ClassifyDeviation;
using orvi::dose::ComputeExposureIndex;
using orvi::dose::CExposureIndex;
using orvi::dose::CExposureIndexSettings;
using orvi::dose::CGainInputs;
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

}  // namespace orvi::dicom
