#pragma once
// Shared by the fuzz harnesses: a scratch folder per process (in memory where
// /dev/shm exists), a reader of the fuzzer's bytes, and a check that aborts
// with a message (a failed check is a finding, like a crash).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace orvi::fuzz {

// A folder of this process that exists until it ends; emptied by the caller.
const std::string& ScratchFolder();
// Removes everything inside the folder (not the folder).
void EmptyFolder(const std::string& strFolder);
void WriteBytes(const std::string& strPath, const void* p, size_t n);

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

// Takes bytes from the front of the fuzzer's input.
class CInput {
public:
    CInput(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
    bool Empty() const { return m_n == 0; }
    size_t Left() const { return m_n; }
    uint8_t Byte() {
        if (m_n == 0) return 0;
        --m_n;
        return *m_p++;
    }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
        return v;
    }
    std::string Bytes(size_t n) {
        if (n > m_n) n = m_n;
        std::string s(reinterpret_cast<const char*>(m_p), n);
        m_p += n;
        m_n -= n;
        return s;
    }
    std::string Rest() { return Bytes(m_n); }

private:
    const uint8_t* m_p;
    size_t m_n;
};

}  // namespace orvi::fuzz
