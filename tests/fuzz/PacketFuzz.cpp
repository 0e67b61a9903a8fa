// The detector's parameter packet as the library decodes it: any bytes are
// refused or decoded; a decoded block encodes to a packet that decodes to the
// same block, with the checksum the program's own rule computes.
#include "FuzzSupport.h"

#include "orviacquire/ParameterBlock.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    orvi::sim::ParameterBlock block, before;
    const bool bOk = orvi::sim::DecodePacket(pData, nSize, block);
    if (!bOk) {
        FUZZ_CHECK(block == before);  // untouched
        return 0;
    }
    FUZZ_CHECK(nSize >= ORVIACQ_PACKET_SIZE);
    // The program's check of a packet: XOR of bytes 3..130 equals byte 131.
    uint8_t bySum = 0;
    for (int i = ORVIACQ_PACKET_CHECKSUM_FIRST; i <= ORVIACQ_PACKET_CHECKSUM_LAST; ++i) bySum ^= pData[i];
    FUZZ_CHECK(bySum == pData[ORVIACQ_PACKET_CHECKSUM_AT]);
    FUZZ_CHECK(orvi::sim::PacketChecksum(pData) == bySum);

    for (int32_t nIndex : {0, 1}) {
        const orvi::sim::Packet packet = orvi::sim::EncodePacket(block, nIndex, false);
        orvi::sim::ParameterBlock again;
        FUZZ_CHECK(orvi::sim::DecodePacket(packet.data(), packet.size(), again));
        FUZZ_CHECK(again == block);
        const orvi::sim::Packet spoiled = orvi::sim::EncodePacket(block, nIndex, true);
        orvi::sim::ParameterBlock untouched;
        FUZZ_CHECK(!orvi::sim::DecodePacket(spoiled.data(), spoiled.size(), untouched));
    }
    return 0;
}
