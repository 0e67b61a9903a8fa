#pragma once
// Every key of ORVI2.ini in one place: its name, type, default and size, and
// the typed readers. All keys live in section "CONFIG".
//
// Readers and the moment they read (in file order):
//   main frame creation ...... IMAGE_PATH, CAL_PATH, WRITE_LOG, STDDEV_OPTION,
//                              DOSE_INDICATOR, MEDIAN_FILTER, CALIBRATION,
//                              IMAGE_WIDTH, IMAGE_HEIGHT, STDDEV_RANGE,
//                              EXT_TRIGGER, OFFSET_CONTROL, REPEAT_NUMBER,
//                              REPEAT_PERIOD, IMAGE_CUT_TOP/BOTTOM/LEFT/RIGHT
//   image store Initialize ... IMAGE_WIDTH, IMAGE_HEIGHT, DETECTOR_NAME_2,
//                              IMAGE_NAME, IMAGE_PATH, COM_NAME_1, COM_NAME_2,
//                              ADAPTER_NAME_1, ADAPTER_NAME_2, EXP_DELAY, INTEGRATE
//   every frame .............. IMAGE_NAME, GET_IMAGE_MESSAGE, DARK_SLEEP_TERM,
//                              REPEAT_GER_DARK
//   every dose computation ... DOSE_INDICATOR_X/Y/WIDTH/HEIGHT
//   end of a repeat series ... REPEAT_NUMBER
//   DELETE FILE, Open File ... CAL_PATH, IMAGE_PATH
// Writers: Save adapter (ADAPTER_NAME_1/2, COM_NAME_1/2, SELECT_ADAPTER) and the
// configuration dialog's Write (IMAGE_NAME, IMAGE_PATH, AUTO_NAMING_SAVED,
// EXP_DELAY, AEC_EXP_TIME, INTEGRATE).
//
// IMAGE_WIDTH and IMAGE_HEIGHT default to 3072 for every reader: a missing key
// must never produce an empty image.
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvi::cfg {

inline constexpr const char* kSection = "CONFIG";
inline constexpr const char* kIniFileName = "ORVI2.ini";

struct IntKey {
    const char* szName;
    int32_t nDefault;
};

struct TextKey {
    const char* szName;
    const char* szDefault;
    size_t nSize;  // buffer size in characters; values are cut to nSize - 1
};

// Integer keys.
inline constexpr IntKey WRITE_LOG{"WRITE_LOG", 0};
inline constexpr IntKey STDDEV_OPTION{"STDDEV_OPTION", 0};
inline constexpr IntKey STDDEV_RANGE{"STDDEV_RANGE", 75};
inline constexpr IntKey DOSE_INDICATOR{"DOSE_INDICATOR", 0};
inline constexpr IntKey DOSE_INDICATOR_X{"DOSE_INDICATOR_X", 1000};
inline constexpr IntKey DOSE_INDICATOR_Y{"DOSE_INDICATOR_Y", 1000};
inline constexpr IntKey DOSE_INDICATOR_WIDTH{"DOSE_INDICATOR_WIDTH", 1000};
inline constexpr IntKey DOSE_INDICATOR_HEIGHT{"DOSE_INDICATOR_HEIGHT", 1000};
inline constexpr IntKey MEDIAN_FILTER{"MEDIAN_FILTER", 1};
inline constexpr IntKey CALIBRATION{"CALIBRATION", 1};
inline constexpr IntKey IMAGE_WIDTH{"IMAGE_WIDTH", 3072};
inline constexpr IntKey IMAGE_HEIGHT{"IMAGE_HEIGHT", 3072};
inline constexpr IntKey EXT_TRIGGER{"EXT_TRIGGER", 1};
inline constexpr IntKey OFFSET_CONTROL{"OFFSET_CONTROL", 0};
inline constexpr IntKey REPEAT_NUMBER{"REPEAT_NUMBER", 5};
inline constexpr IntKey REPEAT_PERIOD{"REPEAT_PERIOD", 5000};
inline constexpr IntKey IMAGE_CUT_TOP{"IMAGE_CUT_TOP", 0};
inline constexpr IntKey IMAGE_CUT_BOTTOM{"IMAGE_CUT_BOTTOM", 0};
inline constexpr IntKey IMAGE_CUT_LEFT{"IMAGE_CUT_LEFT", 0};
inline constexpr IntKey IMAGE_CUT_RIGHT{"IMAGE_CUT_RIGHT", 0};
// The pause before the first dark after an image, and before each further one.
inline constexpr IntKey DARK_SLEEP_TERM_FIRST{"DARK_SLEEP_TERM", 900};
inline constexpr IntKey DARK_SLEEP_TERM_NEXT{"DARK_SLEEP_TERM", 500};
inline constexpr IntKey REPEAT_GER_DARK{"REPEAT_GER_DARK", 1};
inline constexpr IntKey RUNNING_TIME_OPTION{"RUNNING_TIME_OPTION", 0};
inline constexpr IntKey RUNNING_TIME{"RUNNING_TIME", 0};
// The detector's pixel pitch in micrometres (DICOM's Imager Pixel Spacing, the ruler's millimetres).
inline constexpr IntKey PIXEL_PITCH_UM{"PIXEL_PITCH_UM", 139};

// Text keys.
inline constexpr TextKey IMAGE_PATH{"IMAGE_PATH", " ", 512};
inline constexpr TextKey CAL_PATH{"CAL_PATH", " ", 512};
inline constexpr TextKey IMAGE_NAME{"IMAGE_NAME", " ", 512};
inline constexpr TextKey GET_IMAGE_MESSAGE{"GET_IMAGE_MESSAGE", "", 512};
inline constexpr TextKey DETECTOR_NAME_2{"DETECTOR_NAME_2", "", 256};
inline constexpr TextKey COM_NAME_1{"COM_NAME_1", "", 64};
inline constexpr TextKey COM_NAME_2{"COM_NAME_2", "", 64};
inline constexpr TextKey ADAPTER_NAME_1{"ADAPTER_NAME_1", "", 512};
inline constexpr TextKey ADAPTER_NAME_2{"ADAPTER_NAME_2", "", 512};
inline constexpr TextKey EXP_DELAY{"EXP_DELAY", "0", 512};    // text integer, ms
inline constexpr TextKey INTEGRATE{"INTEGRATE", "100", 512};  // text integer, us
// Written only; no reader.
inline constexpr const char* SELECT_ADAPTER = "SELECT_ADAPTER";
inline constexpr const char* AUTO_NAMING_SAVED = "AUTO_NAMING_SAVED";
inline constexpr const char* AEC_EXP_TIME = "AEC_EXP_TIME";

int32_t Read(const std::string& strPath, const IntKey& key);

// Section [VIEW]: the operator's view, read when the main frame is created.
inline constexpr const char* kViewSection = "VIEW";
// 1: each new image (and Open File) gets the automatic window; 0: the window stays.
inline constexpr IntKey AUTO_WINDOW{"AUTO_WINDOW", 1};
// Exposures kept in IMAGE_PATH/history/ (oldest removed first); 0 keeps none.
inline constexpr IntKey HISTORY_KEEP{"HISTORY_KEEP", 200};
int32_t ReadView(const std::string& strPath, const IntKey& key);
std::string Read(const std::string& strPath, const TextKey& key);
bool Write(const std::string& strPath, const char* szKey, const std::string& strValue);

// Limits of the image geometry: the frame buffers hold 3072 x 3072 pixels.
inline constexpr int32_t kMaxImageSide = 3072;

// The settings the main frame reads at its creation, in the order it reads them.
struct CFrameConfig {
    std::string strImagePath;  // as read (not yet normalised)
    std::string strCalPath;
    int32_t nWriteLog = 0;
    int32_t nStdDevOption = 0;
    int32_t nDoseIndicator = 0;
    int32_t nMedianFilter = 0;
    int32_t nCalibration = 0;
    int32_t nImageWidth = 0;
    int32_t nImageHeight = 0;
    int32_t nStdDevRange = 0;
    int32_t nTriggerMode = 0;
    int32_t nOffsetControl = 0;
    int32_t nRepeatNumber = 0;
    int32_t nRepeatPeriod = 0;
    int32_t nCutTop = 0;
    int32_t nCutBottom = 0;
    int32_t nCutLeft = 0;
    int32_t nCutRight = 0;
};
CFrameConfig ReadFrameConfig(const std::string& strPath);

// The settings the image store reads in Initialize, in its order.
struct CStoreConfig {
    int32_t nImageWidth = 0;
    int32_t nImageHeight = 0;
    std::string strDetectorName2;
    std::string strImageName;
    std::string strImagePath;
    std::string strComName1, strComName2;
    std::string strAdapterName1, strAdapterName2;
    std::string strExpDelay;
    std::string strIntegrate;
};
CStoreConfig ReadStoreConfig(const std::string& strPath);

// "" when the size and cuts fit the frame buffers, else the message that
// names the offending key and its allowed range.
std::string CheckImageGeometry(int32_t nWidth, int32_t nHeight, int32_t nCutTop, int32_t nCutBottom, int32_t nCutLeft,
                               int32_t nCutRight);

}  // namespace orvi::cfg
