#pragma once
// The automatic window of an image: width and level from the image's own
// histogram, so that an exposure is well contrasted the moment it is shown.
// The 0.5 % and 99.5 % points of the exposed field's pixels become the
// window's lower and upper edges: a few hot or dead pixels and the collimator
// shadow do not stretch it. Pixels of value 0 carry no signal (the zero
// border, the zero-filled end of a short file) and are left out too. Used
// for the view and for the default window of exported images.
#include "display/Histogram.h"
#include "display/ViewGeometry.h"

namespace orvi {

inline constexpr double kAutoWindowLowFraction = 0.005;
inline constexpr double kAutoWindowHighFraction = 0.995;

// Width = high point - low point (at least 1), level = the middle between
// them (rounded down), over the pixels above 0. No such pixel gives the
// default full window 16383 / 8191.
CWindowLevel ComputeAutoWindow(const CHistogram& h);

// The same from the pixels: the exposed field's histogram first.
CWindowLevel ComputeAutoWindow(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight);

}  // namespace orvi
