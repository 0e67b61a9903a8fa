#pragma once
// Window/level lookup tables: the display shows 8-bit grey, the detector
// delivers 14 significant bits. A table maps every 14-bit value to one grey,
// so converting an image costs one table read per pixel and the arithmetic is
// done only when the window changes.
#include <cstddef>
#include <cstdint>

namespace orvi {

class CReport;

// The base table: a pass-through of the input's low bits.
template <class TOut, class TIn>
class CLUT {
public:
    virtual TOut Lookup(TIn value) const { return static_cast<TOut>(value); }
    virtual bool IsValid() const { return true; }
    virtual ~CLUT() = default;
};

inline constexpr size_t kLutEntries = 16384;  // inputs 0 .. 0x3FFF
inline constexpr uint16_t kLutMaxIn = 0x3FFF;
inline constexpr uint16_t kLutMaxOut = 255;
inline constexpr int32_t kDefaultWindowWidth = 16383;
inline constexpr int32_t kDefaultWindowLevel = 8191;
inline constexpr const char* kMemoryLess = "Memory less.";
inline constexpr const char* kMemoryLessCaption = "Error";

// Fills table[0 .. 16383] for window width W and level L (single precision):
// low = L - W x 0.5, high = L + W x 0.5; x >= high gives 255, x < low gives 0,
// otherwise trunc((x - low) x 255 / W), each operation rounded to single
// precision, low 8 bits.
void BuildWindowLevelTable(float fWidth, float fLevel, unsigned char* pTable);

// The window/level table the image view owns.
class CWLLUT : public CLUT<unsigned char, unsigned short> {
public:
    // Obtains the table storage; a test may pass an allocator that fails.
    using TableAllocator = unsigned char* (*)(size_t nBytes);

    // Builds the table for width 16383 and level 8191. When the storage cannot
    // be obtained, the message box "Memory less." (caption "Error") goes to
    // pReport (when given; its owner shows it) and the table stays absent:
    // IsValid() is false.
    explicit CWLLUT(CReport* pReport = nullptr, TableAllocator fnAllocate = nullptr);
    ~CWLLUT() override;
    CWLLUT(const CWLLUT&) = delete;
    CWLLUT& operator=(const CWLLUT&) = delete;

    // The table entry of the value's low 14 bits (callers mask already; the
    // mask keeps any value inside the table). 0 when the table is absent.
    unsigned char Lookup(unsigned short value) const override { return m_pTable ? m_pTable[value & kLutMaxIn] : 0; }
    bool IsValid() const override { return m_pTable != nullptr; }

    // Rebuilds the table for a new window. False, changing nothing, when both
    // the level and the width are within 1 of the current ones; false too when
    // no storage can be obtained (after "Memory less."). True when rebuilt;
    // m_bChanged is then set.
    bool SetWindowLevel(int nWidth, int nLevel);

    // Negative display: every entry becomes 255 minus the window's grey.
    // Kept across window changes; a repeat of the current setting does nothing.
    void SetInvert(bool bInvert);
    bool IsInverted() const { return m_bInvert; }

    // Converts an image of nWidth x nHeight pixels (rows nSrcStride pixels
    // apart) into 8-bit grey (rows nDstStride bytes apart), each pixel masked
    // to 14 bits and looked up. Does nothing without a table. The greys are
    // computed in vector form from the window when that was found to give
    // the table exactly at its last build.
    void Convert(const uint16_t* pSrc, size_t nWidth, size_t nHeight, size_t nSrcStride, uint8_t* pDst,
                 size_t nDstStride) const;

    bool m_bChanged = false;            // set by every build; the view clears it after converting
    unsigned char* m_pTable = nullptr;  // kLutEntries entries, owned
    float m_fWidth = float(kDefaultWindowWidth);
    float m_fLevel = float(kDefaultWindowLevel);
    uint16_t m_nMaxIn = kLutMaxIn;
    uint16_t m_nMaxOut = kLutMaxOut;

private:
    bool ObtainTable();
    void InvertTable();
    // Checks the vector rule against the table just built, for all inputs.
    void CheckRule();

    bool m_bInvert = false;
    bool m_bRuleMatches = false;  // the vector rule gives the table (for the window below)
    float m_fRuleWidth = 0.0f, m_fRuleLevel = 0.0f;

    CReport* m_pReport;
    TableAllocator m_fnAllocate;
};

}  // namespace orvi
