#pragma once
// The values the application object owns and several parts share.
#include "display/ImageStore.h"

#include <string>

namespace orvi {

struct CAppValues {
    std::string m_strProgramDir;  // folder of the executable, ending in '/'
    std::string m_strConfigPath;  // m_strProgramDir + "ORVI2.ini", set by the store's Initialize
    std::string m_strExpDelay;    // EXP_DELAY text (ms); replaced by the configuration dialog
    std::string m_strIntegrate;   // INTEGRATE text (us)
    CImageStore m_imageStore;
};

}  // namespace orvi
