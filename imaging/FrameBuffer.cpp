#include "imaging/FrameBuffer.h"

#include <cstdint>
#include <new>
#include <sys/mman.h>

namespace orvi {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}

CFrameBuffer::CFrameBuffer(size_t nPixels) {
    const size_t nBytes = nPixels * sizeof(uint16_t);
    if (nBytes >= kMappedBytes) {
        // One huge page more than needed, so the buffer can start on a boundary.
        const size_t nLength = nBytes + kHugePage;
        void* p = ::mmap(nullptr, nLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            uintptr_t nStart = (reinterpret_cast<uintptr_t>(p) + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
            ::madvise(reinterpret_cast<void*>(nStart), nBytes, MADV_HUGEPAGE);  // a hint; ignored where unsupported
            m_pMapping = p;
            m_nMappingBytes = nLength;
            m_pPixels = reinterpret_cast<uint16_t*>(nStart);
            return;
        }
    }
    m_pPixels = static_cast<uint16_t*>(::operator new(nBytes, std::nothrow));
}

CFrameBuffer::~CFrameBuffer() {
    if (m_pMapping)
        ::munmap(m_pMapping, m_nMappingBytes);
    else
        ::operator delete(m_pPixels);
}

}  // namespace orvi
