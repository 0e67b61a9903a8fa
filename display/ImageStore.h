#pragma once
// The image store joins the producers of frames (image reception, Open File) to
// the image view: it holds the image size and the connection and naming
// settings read at start-up, the last frame of each detector, and the display
// buffer the view converts to grey.
#include <cstdint>
#include <string>
#include <vector>

namespace orvi {

struct CAppValues;

// What the store needs of a view; the Qt view implements it.
class IImageView {
public:
    virtual ~IImageView() = default;
    // Repaint the whole view (the display buffer or its flag changed).
    virtual void InvalidateView() = 0;
};

class CImageStore {
public:
    static constexpr uint16_t kInitialPixel = 16000;  // mid-grey field before the first frame

    // Reads its keys from the configuration file (m_strConfigPath is set here
    // from the program folder), fills the application's EXP_DELAY and INTEGRATE
    // texts and obtains the three pixel buffers filled with 16000.
    // Returns false when the configured size cannot be held (checked by the
    // caller's geometry check before the window shows).
    bool Initialize(CAppValues& app);

    // A frame of m_nWidth x m_nHeight pixels from a detector (handle) or from a
    // file (handle 0). Frames of the second detector only refresh m_pFrame2.
    bool StoreFrame(uint32_t nHandle, const uint16_t* pPixels);
    // An image cut from a full frame: nWidth x nHeight pixels, row after row,
    // whose first pixel was column nLeft, row nTop of the full frame. It is
    // kept and shown at its own size. False (nothing copied) when it does not
    // lie inside the full frame.
    bool StoreCutFrame(uint32_t nHandle, const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, int32_t nLeft,
                       int32_t nTop);
    // Shows the frame of the detector m_bShowSecond selects.
    bool ShowSelected();
    // Display pixel plus the main frame's last dark pixel (16-bit sum); 0
    // outside the displayed image. A cut image reads the dark pixel it was
    // cut from: (row + top) x width + (column + left).
    uint16_t GetOriginalValue(int32_t nColumn, int32_t nRow) const;

    // Links to the main frame: its second-detector handle and its last dark
    // frame (nDarkPixels long). Reads of the dark frame stay inside it.
    void SetFrameLinks(const uint32_t* phDetectorB, const uint16_t* pDarkFrame, size_t nDarkPixels);

    const uint16_t* Display() const { return m_pDisplay.empty() ? nullptr : m_pDisplay.data(); }

    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    int32_t m_bShowNetworkWindow = 0;
    int32_t m_bAutoNaming = 0;
    std::string m_strDetectorName2;
    std::string m_strComName1, m_strComName2;
    std::string m_strAdapterName1, m_strAdapterName2;
    std::string m_strImageName;
    std::string m_strImagePath;
    std::vector<uint16_t> m_pFrame1;
    std::vector<uint16_t> m_pFrame2;
    int32_t m_bNewImage = 0;
    bool m_bShowSecond = false;
    IImageView* m_pView = nullptr;
    int32_t m_nDispWidth = 0;
    int32_t m_nDispHeight = 0;
    std::vector<uint16_t> m_pDisplay;

private:
    // Where a kept frame lies in the full frame: its size and the cuts above
    // and to the left of it.
    struct CFrameShape {
        int32_t nWidth = 0;
        int32_t nHeight = 0;
        int32_t nLeft = 0;
        int32_t nTop = 0;
    };
    size_t PixelCount() const;
    bool Store(uint32_t nHandle, const uint16_t* pPixels, const CFrameShape& shape);
    void ShowShape(const CFrameShape& shape);

    CFrameShape m_shape1;     // of m_pFrame1
    CFrameShape m_shape2;     // of m_pFrame2
    int32_t m_nDispLeft = 0;  // the displayed frame's place in the full frame
    int32_t m_nDispTop = 0;

    const uint32_t* m_phDetectorB = nullptr;
    const uint16_t* m_pDarkFrame = nullptr;
    size_t m_nDarkPixels = 0;
};

}  // namespace orvi
