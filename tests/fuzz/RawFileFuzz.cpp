// RAW files of any length and the level names of calibration files: a read
// takes exactly the bytes the file holds or refuses it; a written file reads
// back whole; every name reads back a level in range, and the name made for a
// level reads back that level.
#include "FuzzSupport.h"

#include "imaging/RawFile.h"

#include <cstring>
#include <limits>
#include <vector>

using orvi::fuzz::CInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CInput in(pData, nSize);
    const uint8_t nMode = in.Byte();
    const size_t nPixels = in.Byte() % 64;

    // Level names.
    const std::string strName = in.Bytes(in.Byte() % 40);
    for (const char* szPrefix : {orvi::kPrefixBright, orvi::kPrefixDark, "", "BRIGHT"}) {
        const int32_t nLevel = orvi::LevelFromFileName(strName, szPrefix);
        FUZZ_CHECK(nLevel >= 0);
    }
    (void)orvi::IsCalibrationFileName(strName);
    (void)orvi::IsTemporaryName(strName);
    const int64_t nMean = int64_t(int32_t(in.U32())) % 200000;
    const std::string strMade = orvi::LevelFileName(nMode & 1 ? orvi::kPrefixBright : orvi::kPrefixDark, nMean);
    if (nMean >= 0) {
        FUZZ_CHECK(orvi::LevelFromFileName(strMade, nMode & 1 ? orvi::kPrefixBright : orvi::kPrefixDark) == nMean);
        FUZZ_CHECK(orvi::IsCalibrationFileName(strMade));
    }

    // A file of the rest of the input.
    const std::string strBytes = in.Rest();
    const std::string strPath = orvi::fuzz::ScratchFolder() + "IMAGE.RAW";
    if (nMode & 2) {
        FUZZ_CHECK(orvi::WriteFileReplacing(strPath, strBytes.data(), strBytes.size()));
    } else {
        orvi::fuzz::WriteBytes(strPath, strBytes.data(), strBytes.size());
    }
    std::vector<uint16_t> pixels(nPixels + 1, 0xABCD);
    uint64_t nFileBytes = 0;
    const orvi::RawRead e = orvi::ReadRawFile(strPath, pixels.data(), nPixels, &nFileBytes);
    FUZZ_CHECK(nFileBytes == strBytes.size());
    FUZZ_CHECK(pixels[nPixels] == 0xABCD);  // never past the buffer
    if (strBytes.size() >= nPixels * 2) {
        FUZZ_CHECK(e == orvi::RawRead::Ok);
        FUZZ_CHECK(std::memcmp(pixels.data(), strBytes.data(), nPixels * 2) == 0);
    } else {
        FUZZ_CHECK(e == orvi::RawRead::TooShort);
        for (size_t i = 0; i < nPixels; ++i) FUZZ_CHECK(pixels[i] == 0xABCD);  // left as it was
    }
    FUZZ_CHECK(orvi::CheckRawFile(strPath, nPixels) == e);

    std::vector<uint16_t> upTo(nPixels + 1, 0xABCD);
    FUZZ_CHECK(orvi::ReadRawFileUpTo(strPath, upTo.data(), nPixels));
    const size_t nHave = std::min(strBytes.size(), nPixels * 2);
    FUZZ_CHECK(std::memcmp(upTo.data(), strBytes.data(), nHave) == 0);
    for (size_t b = nHave; b < nPixels * 2; ++b) FUZZ_CHECK(reinterpret_cast<const uint8_t*>(upTo.data())[b] == 0);
    FUZZ_CHECK(upTo[nPixels] == 0xABCD);
    return 0;
}
