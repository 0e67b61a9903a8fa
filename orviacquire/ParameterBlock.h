#pragma once
// The detector's parameter block and the packets it travels in on the serial
// line (layout in ORVIAcquireLib.h).
#include "orviacquire/ORVIAcquireLib.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvi::sim {

struct ParameterBlock {
    uint16_t nVtMilliVolts = 2500;
    uint16_t nPga = 5;
    uint16_t nAecExpTime = 0;
    uint16_t nIntegrate = 100;
    uint16_t nSerialTimeSpan = 3000;
    uint16_t nAecMode = 1;
    std::array<uint8_t, 4> sensor{0, 1, 0, 0};
    std::array<uint8_t, 4> gain{1, 0, 0, 0};
    uint16_t nSetDelayTime = 1000;
    uint16_t nClearTime = 1500;
    std::array<uint16_t, 3> version{4, 5, 10};
    // The serial number, ASCII, NUL-padded; set at the factory, kept by a reset.
    std::array<char, 16> serial{};
    bool operator==(const ParameterBlock&) const = default;
};

// The fields a setter stages, as bits of a mask.
enum ParameterField : uint32_t {
    kFieldVt = 1u << 0,
    kFieldPga = 1u << 1,
    kFieldAecExpTime = 1u << 2,
    kFieldIntegrate = 1u << 3,
    kFieldSerialTimeSpan = 1u << 4,
    kFieldAecMode = 1u << 5,
    kFieldSensor = 1u << 6,
    kFieldGain = 1u << 7,
    kFieldSetDelayTime = 1u << 8,
    kFieldClearTime = 1u << 9,
};

// Copies the fields named in nMask from `from` into `to`.
void CopyFields(ParameterBlock& to, const ParameterBlock& from, uint32_t nMask);

using Packet = std::array<uint8_t, ORVIACQ_PACKET_SIZE>;
using AckPacket = std::array<uint8_t, ORVIACQ_ACK_SIZE>;

// XOR of the bytes the checksum covers.
uint8_t PacketChecksum(const uint8_t* pBytes);
// The packet of a block from detector nIndex. A corrupt packet has its
// checksum byte spoiled after it was computed, as a line fault would do.
Packet EncodePacket(const ParameterBlock& block, int32_t nIndex, bool bCorrupt);
// Decodes a packet; false (block untouched) when its header or sum is wrong.
bool DecodePacket(const uint8_t* pBytes, size_t nCount, ParameterBlock& block);
AckPacket EncodeAck(int32_t nIndex);

}  // namespace orvi::sim
