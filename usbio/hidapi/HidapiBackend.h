#pragma once
// The production backend: HID devices through hidapi on hidraw.
#include "usbio/HidBackend.h"

#include <memory>

namespace pelkio {

std::unique_ptr<IHidBackend> CreateHidapiBackend();

}  // namespace pelkio
