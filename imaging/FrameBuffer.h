#pragma once
// A temporary buffer of 16-bit pixels, not initialised, for the calibration
// frames the correction steps read from disk. A frame-sized buffer is mapped
// on huge-page boundaries and marked for huge pages: filling a fresh 18 MB
// buffer otherwise costs thousands of page faults, more than reading the file
// itself. Smaller buffers come from operator new. No exceptions: a buffer
// that cannot be obtained is empty (get() is nullptr).
#include <cstddef>
#include <cstdint>

namespace orvi {

class CFrameBuffer {
public:
    explicit CFrameBuffer(size_t nPixels);
    ~CFrameBuffer();
    CFrameBuffer(const CFrameBuffer&) = delete;
    CFrameBuffer& operator=(const CFrameBuffer&) = delete;

    uint16_t* get() const { return m_pPixels; }
    explicit operator bool() const { return m_pPixels != nullptr; }

    // Buffers of at least this many bytes are mapped for huge pages.
    static constexpr size_t kMappedBytes = size_t{4} << 20;

private:
    uint16_t* m_pPixels = nullptr;
    void* m_pMapping = nullptr;  // the whole mapping when mapped
    size_t m_nMappingBytes = 0;
};

}  // namespace orvi
