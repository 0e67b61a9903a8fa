#include "orviacquire/ParameterBlock.h"

namespace orvi::sim {
namespace {

constexpr uint8_t kSync0 = 0xA5;
constexpr uint8_t kSync1 = 0x5A;
constexpr uint8_t kTypeBlock = 0x52;
constexpr uint8_t kTypeAck = 0x41;
constexpr uint8_t kFormat = 1;

// Offsets of the fields in the packet.
constexpr size_t kAtIndex = 4, kAtVt = 5, kAtPga = 7, kAtAecExpTime = 9, kAtIntegrate = 11, kAtSerialTimeSpan = 13,
                 kAtAecMode = 15, kAtSensor = 17, kAtGain = 21, kAtSetDelayTime = 25, kAtClearTime = 27,
                 kAtVersion = 29, kAtSerial = 35;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

void CopyFields(ParameterBlock& to, const ParameterBlock& from, uint32_t nMask) {
    if (nMask & kFieldVt) to.nVtMilliVolts = from.nVtMilliVolts;
    if (nMask & kFieldPga) to.nPga = from.nPga;
    if (nMask & kFieldAecExpTime) to.nAecExpTime = from.nAecExpTime;
    if (nMask & kFieldIntegrate) to.nIntegrate = from.nIntegrate;
    if (nMask & kFieldSerialTimeSpan) to.nSerialTimeSpan = from.nSerialTimeSpan;
    if (nMask & kFieldAecMode) to.nAecMode = from.nAecMode;
    if (nMask & kFieldSensor) to.sensor = from.sensor;
    if (nMask & kFieldGain) to.gain = from.gain;
    if (nMask & kFieldSetDelayTime) to.nSetDelayTime = from.nSetDelayTime;
    if (nMask & kFieldClearTime) to.nClearTime = from.nClearTime;
}

uint8_t PacketChecksum(const uint8_t* pBytes) {
    uint8_t x = 0;
    for (size_t i = ORVIACQ_PACKET_CHECKSUM_FIRST; i <= ORVIACQ_PACKET_CHECKSUM_LAST; ++i) x ^= pBytes[i];
    return x;
}

Packet EncodePacket(const ParameterBlock& b, int32_t nIndex, bool bCorrupt) {
    Packet p{};
    p[0] = kSync0;
    p[1] = kSync1;
    p[2] = kTypeBlock;
    p[3] = kFormat;
    p[kAtIndex] = static_cast<uint8_t>(nIndex);
    Put16(&p[kAtVt], b.nVtMilliVolts);
    Put16(&p[kAtPga], b.nPga);
    Put16(&p[kAtAecExpTime], b.nAecExpTime);
    Put16(&p[kAtIntegrate], b.nIntegrate);
    Put16(&p[kAtSerialTimeSpan], b.nSerialTimeSpan);
    Put16(&p[kAtAecMode], b.nAecMode);
    for (size_t i = 0; i < 4; ++i) {
        p[kAtSensor + i] = b.sensor[i];
        p[kAtGain + i] = b.gain[i];
    }
    Put16(&p[kAtSetDelayTime], b.nSetDelayTime);
    Put16(&p[kAtClearTime], b.nClearTime);
    for (size_t i = 0; i < 3; ++i) Put16(&p[kAtVersion + 2 * i], b.version[i]);
    for (size_t i = 0; i < b.serial.size(); ++i) p[kAtSerial + i] = static_cast<uint8_t>(b.serial[i]);
    p[ORVIACQ_PACKET_CHECKSUM_AT] = PacketChecksum(p.data());
    if (bCorrupt) p[ORVIACQ_PACKET_CHECKSUM_AT] ^= 0x5A;
    return p;
}

bool DecodePacket(const uint8_t* p, size_t nCount, ParameterBlock& block) {
    if (p == nullptr || nCount < ORVIACQ_PACKET_SIZE) return false;
    if (p[0] != kSync0 || p[1] != kSync1 || p[2] != kTypeBlock || p[3] != kFormat) return false;
    if (PacketChecksum(p) != p[ORVIACQ_PACKET_CHECKSUM_AT]) return false;
    ParameterBlock b;
    b.nVtMilliVolts = Get16(&p[kAtVt]);
    b.nPga = Get16(&p[kAtPga]);
    b.nAecExpTime = Get16(&p[kAtAecExpTime]);
    b.nIntegrate = Get16(&p[kAtIntegrate]);
    b.nSerialTimeSpan = Get16(&p[kAtSerialTimeSpan]);
    b.nAecMode = Get16(&p[kAtAecMode]);
    for (size_t i = 0; i < 4; ++i) {
        b.sensor[i] = p[kAtSensor + i];
        b.gain[i] = p[kAtGain + i];
    }
    b.nSetDelayTime = Get16(&p[kAtSetDelayTime]);
    b.nClearTime = Get16(&p[kAtClearTime]);
    for (size_t i = 0; i < 3; ++i) b.version[i] = Get16(&p[kAtVersion + 2 * i]);
    for (size_t i = 0; i < b.serial.size(); ++i) b.serial[i] = static_cast<char>(p[kAtSerial + i]);
    block = b;
    return true;
}

AckPacket EncodeAck(int32_t nIndex) {
    AckPacket p{};
    p[0] = kSync0;
    p[1] = kSync1;
    p[2] = kTypeAck;
    p[3] = static_cast<uint8_t>(nIndex);
    return p;
}

}  // namespace orvi::sim
