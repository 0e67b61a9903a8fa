#include "app/ConfigKeys.h"

#include "app/Profile.h"

namespace orvi::cfg {

int32_t Read(const std::string& strPath, const IntKey& key) {
    return ReadProfileInt(strPath, kSection, key.szName, key.nDefault);
}

int32_t ReadView(const std::string& strPath, const IntKey& key) {
    return ReadProfileInt(strPath, kViewSection, key.szName, key.nDefault);
}

std::string Read(const std::string& strPath, const TextKey& key) {
    return ReadProfileText(strPath, kSection, key.szName, key.szDefault, key.nSize);
}

bool Write(const std::string& strPath, const char* szKey, const std::string& strValue) {
    return WriteProfileText(strPath, kSection, szKey, strValue);
}

CFrameConfig ReadFrameConfig(const std::string& strPath) {
    CFrameConfig c;
    c.strImagePath = Read(strPath, IMAGE_PATH);
    c.strCalPath = Read(strPath, CAL_PATH);
    c.nWriteLog = Read(strPath, WRITE_LOG);
    c.nStdDevOption = Read(strPath, STDDEV_OPTION);
    c.nDoseIndicator = Read(strPath, DOSE_INDICATOR);
    c.nMedianFilter = Read(strPath, MEDIAN_FILTER);
    c.nCalibration = Read(strPath, CALIBRATION);
    c.nImageWidth = Read(strPath, IMAGE_WIDTH);
    c.nImageHeight = Read(strPath, IMAGE_HEIGHT);
    c.nStdDevRange = Read(strPath, STDDEV_RANGE);
    c.nTriggerMode = Read(strPath, EXT_TRIGGER);
    c.nOffsetControl = Read(strPath, OFFSET_CONTROL);
    c.nRepeatNumber = Read(strPath, REPEAT_NUMBER);
    c.nRepeatPeriod = Read(strPath, REPEAT_PERIOD);
    c.nCutTop = Read(strPath, IMAGE_CUT_TOP);
    c.nCutBottom = Read(strPath, IMAGE_CUT_BOTTOM);
    c.nCutLeft = Read(strPath, IMAGE_CUT_LEFT);
    c.nCutRight = Read(strPath, IMAGE_CUT_RIGHT);
    return c;
}

CStoreConfig ReadStoreConfig(const std::string& strPath) {
    CStoreConfig c;
    c.nImageWidth = Read(strPath, IMAGE_WIDTH);
    c.nImageHeight = Read(strPath, IMAGE_HEIGHT);
    c.strDetectorName2 = Read(strPath, DETECTOR_NAME_2);
    c.strImageName = Read(strPath, IMAGE_NAME);
    c.strImagePath = Read(strPath, IMAGE_PATH);
    c.strComName1 = Read(strPath, COM_NAME_1);
    c.strComName2 = Read(strPath, COM_NAME_2);
    c.strAdapterName1 = Read(strPath, ADAPTER_NAME_1);
    c.strAdapterName2 = Read(strPath, ADAPTER_NAME_2);
    c.strExpDelay = Read(strPath, EXP_DELAY);
    c.strIntegrate = Read(strPath, INTEGRATE);
    return c;
}

std::string CheckImageGeometry(int32_t nWidth, int32_t nHeight, int32_t nCutTop, int32_t nCutBottom, int32_t nCutLeft,
                               int32_t nCutRight) {
    auto side = [](const char* szKey, int32_t n) -> std::string {
        if (n >= 1 && n <= kMaxImageSide) return {};
        return std::string(szKey) + " is " + std::to_string(n) + " in ORVI2.ini; it must be between 1 and " +
               std::to_string(kMaxImageSide) + ".";
    };
    if (auto s = side(IMAGE_WIDTH.szName, nWidth); !s.empty()) return s;
    if (auto s = side(IMAGE_HEIGHT.szName, nHeight); !s.empty()) return s;
    const struct {
        const char* szKey;
        int32_t n;
    } cuts[] = {{IMAGE_CUT_TOP.szName, nCutTop},
                {IMAGE_CUT_BOTTOM.szName, nCutBottom},
                {IMAGE_CUT_LEFT.szName, nCutLeft},
                {IMAGE_CUT_RIGHT.szName, nCutRight}};
    for (const auto& c : cuts)
        if (c.n < 0)
            return std::string(c.szKey) + " is " + std::to_string(c.n) + " in ORVI2.ini; a cut must be 0 or more.";
    if (int64_t{nCutLeft} + nCutRight >= nWidth)
        return "IMAGE_CUT_LEFT + IMAGE_CUT_RIGHT is " + std::to_string(int64_t{nCutLeft} + nCutRight) +
               " in ORVI2.ini; it must be between 0 and " + std::to_string(nWidth - 1) +
               " to leave columns of IMAGE_WIDTH " + std::to_string(nWidth) + ".";
    if (int64_t{nCutTop} + nCutBottom >= nHeight)
        return "IMAGE_CUT_TOP + IMAGE_CUT_BOTTOM is " + std::to_string(int64_t{nCutTop} + nCutBottom) +
               " in ORVI2.ini; it must be between 0 and " + std::to_string(nHeight - 1) +
               " to leave rows of IMAGE_HEIGHT " + std::to_string(nHeight) + ".";
    return {};
}

}  // namespace orvi::cfg
