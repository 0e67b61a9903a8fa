// The C interface of the acquisition library over the simulated detector:
// the table of open detectors, the lists of ports and adapters, argument
// checks, and a thin call into CSimDetector for everything else.
#include "orviacquire/ORVIAcquireLib.h"

#include "orviacquire/ParameterBlock.h"
#include "orviacquire/Schedule.h"
#include "orviacquire/SimDetector.h"
#include "orviacquire/SimSettings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace orvi::sim {
namespace {

constexpr int32_t kMaxAutoFireMs = 3600000;  // as the AUTO_FIRE_MS key

constexpr std::array<const char*, 2> kPorts{"SIMCOM1", "SIMCOM2"};

struct Adapter {
    const char* szName;
    int32_t nFailure;  // what opening a detector through it gives
};
constexpr std::array<Adapter, 4> kAdapters{{
    {"Simulated GigE Adapter 1", ORVIACQ_OK},
    {"Simulated GigE Adapter 2", ORVIACQ_OK},
    {"Simulated GigE Adapter (no detector)", ORVIACQ_INIT_NETWORK},
    {"Simulated Fast Ethernet Adapter", ORVIACQ_INIT_LINK_SPEED},
}};

struct Library {
    std::map<ORVIAcqHandle, std::shared_ptr<CSimDetector>> detectors;
    std::set<ORVIAcqListNode*> lists;  // heads handed out and not yet freed
    ORVIAcqHandle nNextHandle = 0x4F520001u;
};

Library& Lib() {
    static Library s_lib;
    return s_lib;
}

CSimDetector* Find(ORVIAcqHandle h) {
    if (h == 0) return nullptr;
    auto it = Lib().detectors.find(h);
    return it == Lib().detectors.end() ? nullptr : it->second.get();
}

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string FieldText(const char* szField) { return std::string(szField, strnlen(szField, ORVIACQ_TEXT_SIZE)); }

template <typename Names>
ORVIAcqListNode* MakeList(const Names& names) {
    ORVIAcqListNode* pHead = nullptr;
    ORVIAcqListNode** ppTail = &pHead;
    for (const char* sz : names) {
        auto* pNode = new ORVIAcqListNode{};
        std::strncpy(pNode->szName, sz, ORVIACQ_TEXT_SIZE - 1);
        *ppTail = pNode;
        ppTail = &pNode->pNext;
    }
    if (pHead != nullptr) Lib().lists.insert(pHead);
    return pHead;
}

void FreeList(ORVIAcqListNode* pHead) {
    if (pHead == nullptr || Lib().lists.erase(pHead) == 0) return;  // not ours, or freed already
    while (pHead != nullptr) {
        ORVIAcqListNode* pNext = pHead->pNext;
        delete pHead;
        pHead = pNext;
    }
}

bool IsFlag(int32_t n) { return n == 0 || n == 1; }
bool In16(int32_t n) { return n >= 0 && n <= 65535; }

// Stages one value after its range check.
template <typename Apply>
int32_t Stage(ORVIAcqHandle h, bool bInRange, uint32_t nField, Apply apply) {
    CSimDetector* d = Find(h);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (!bInRange) return ORVIACQ_ERR_RANGE;
    apply(d->Staged(nField));
    return ORVIACQ_OK;
}

template <typename Get>
uint16_t Get16(ORVIAcqHandle h, Get get) {
    CSimDetector* d = Find(h);
    return d == nullptr ? 0 : get(d->Values());
}

int32_t SetCorrection(ORVIAcqHandle h, int32_t nOn, Correction kind) {
    CSimDetector* d = Find(h);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (!IsFlag(nOn)) return ORVIACQ_ERR_ARGUMENT;
    return d->SetCorrection(kind, nOn == 1);
}

// The checks of an open, in the order the detector's connection goes: serial
// port, network adapter, link speed, a detector answering.
int32_t CheckConnection(int32_t nIndex, const char* szPort, const char* szAdapter) {
    bool bPort = false;
    for (const char* sz : kPorts) bPort = bPort || SameNoCase(sz, szPort);
    if (!bPort) return ORVIACQ_INIT_SERIAL_PORT;
    for (const auto& [h, d] : Lib().detectors)
        if (SameNoCase(d->Port(), szPort)) return ORVIACQ_INIT_SERIAL_PORT;

    const Adapter* pAdapter = nullptr;
    for (const Adapter& a : kAdapters)
        if (std::strcmp(a.szName, szAdapter) == 0) pAdapter = &a;
    if (pAdapter == nullptr) return ORVIACQ_INIT_ADAPTER;
    for (const auto& [h, d] : Lib().detectors)
        if (d->Adapter() == szAdapter) return ORVIACQ_INIT_ADAPTER;
    if (pAdapter->nFailure != ORVIACQ_OK) return pAdapter->nFailure;

    for (const auto& [h, d] : Lib().detectors)
        if (d->Index() == nIndex) return ORVIACQ_INIT_NETWORK;  // that detector talks to another host
    return ORVIACQ_OK;
}

}  // namespace
}  // namespace orvi::sim

using namespace orvi::sim;

extern "C" {

int32_t AcquisitionExt_SetDispatcher(const ORVIAcqDispatcher* pDispatcher) {
    if (!Lib().detectors.empty()) return ORVIACQ_ERR_STATE;
    if (pDispatcher != nullptr && (pDispatcher->now_ms == nullptr || pDispatcher->post == nullptr))
        return ORVIACQ_ERR_ARGUMENT;
    Schedule().Install(pDispatcher);
    return ORVIACQ_OK;
}

// ---- connection --------------------------------------------------------------

int32_t Acquisition_Initialize(ORVIAcqOpenRecord record, const char* szPortName, const char* szAdapterName,
                               ORVIAcqHandle* pHandle) {
    if (!Schedule().Installed()) return ORVIACQ_ERR_NO_DISPATCHER;
    if (pHandle == nullptr || szPortName == nullptr || szAdapterName == nullptr) return ORVIACQ_ERR_ARGUMENT;
    const int32_t nIndex = record.nDetectorIndex;
    if (nIndex != 0 && nIndex != 1) return ORVIACQ_ERR_ARGUMENT;

    const SimSettings settings = ReadSimSettings(FieldText(record.szIniPath));
    if (settings.nInitFailure[nIndex] != ORVIACQ_OK) return settings.nInitFailure[nIndex];
    const int32_t nCheck = CheckConnection(nIndex, szPortName, szAdapterName);
    if (nCheck != ORVIACQ_OK) return nCheck;

    Library& lib = Lib();
    ORVIAcqHandle h = lib.nNextHandle++;
    while (h == 0 || lib.detectors.count(h) != 0) h = lib.nNextHandle++;
    lib.detectors[h] = std::make_shared<CSimDetector>(h, nIndex, settings, szPortName, szAdapterName);
    *pHandle = h;
    return ORVIACQ_OK;
}

int32_t Acquisition_Close(ORVIAcqHandle hDetector) {
    auto& m = Lib().detectors;
    auto it = hDetector == 0 ? m.end() : m.find(hDetector);
    if (it == m.end()) return ORVIACQ_ERR_HANDLE;
    it->second->Close();
    m.erase(it);  // a step still running holds its own reference
    return ORVIACQ_OK;
}

ORVIAcqListNode* Acquisition_GigeGetAdapterList(void) {
    std::array<const char*, kAdapters.size()> names{};
    for (size_t i = 0; i < kAdapters.size(); ++i) names[i] = kAdapters[i].szName;
    return MakeList(names);
}

void Acquisition_GigeFreeAdapterList(ORVIAcqListNode* pHead) { FreeList(pHead); }

ORVIAcqListNode* AcquisitionExt_GetSerialPortList(void) { return MakeList(kPorts); }

void AcquisitionExt_FreeSerialPortList(ORVIAcqListNode* pHead) { FreeList(pHead); }

// ---- callbacks -----------------------------------------------------------------

int32_t Acquisition_SetComCallback(ORVIAcqHandle hDetector, ORVIAcqComCallback fnCallback, void* pUser) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    d->SetComCallback(fnCallback, pUser);
    return ORVIACQ_OK;
}

int32_t Acquisition_GigeAdapterObjectSetImageCallback(ORVIAcqHandle hDetector, ORVIAcqImageCallback fnCallback,
                                                      void* pUser) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    d->SetImageCallback(fnCallback, pUser);
    return ORVIACQ_OK;
}

int32_t Acquisition_SetAecCallback(ORVIAcqHandle hDetector, ORVIAcqAecCallback fnCallback, void* pUser) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    d->SetAecCallback(fnCallback, pUser);
    return ORVIACQ_OK;
}

// ---- parameters ----------------------------------------------------------------

int32_t Acquisition_ReadDRConfig(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return d != nullptr && d->RequestRead() ? 1 : 0;
}

int32_t Acquisition_DRConfigUpdateAll(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return d != nullptr && d->UpdateAll() ? 1 : 0;
}

int32_t Acquisition_ResetDRConfig(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return d != nullptr && d->Reset() ? 1 : 0;
}

int32_t Acquisition_SetDRConfigVT(ORVIAcqHandle hDetector, float fVolts) {
    // In whole millivolts, so 1.25 and 4.50 read from text pass exactly.
    const double fMv = std::isfinite(fVolts) ? std::round(static_cast<double>(fVolts) * 1000.0) : -1.0;
    return Stage(hDetector, fMv >= 1250.0 && fMv <= 4500.0, kFieldVt,
                 [&](ParameterBlock& b) { b.nVtMilliVolts = static_cast<uint16_t>(fMv); });
}

int32_t Acquisition_SetDRConfigPGA(ORVIAcqHandle hDetector, int32_t nPga) {
    return Stage(hDetector, nPga >= 0 && nPga <= 7, kFieldPga,
                 [&](ParameterBlock& b) { b.nPga = static_cast<uint16_t>(nPga); });
}

int32_t Acquisition_SetDRConfigAecExpTime(ORVIAcqHandle hDetector, int32_t nMs) {
    return Stage(hDetector, In16(nMs), kFieldAecExpTime,
                 [&](ParameterBlock& b) { b.nAecExpTime = static_cast<uint16_t>(nMs); });
}

int32_t Acquisition_SetDRConfigIntegrate(ORVIAcqHandle hDetector, int32_t nUs) {
    return Stage(hDetector, nUs >= 1 && nUs <= 65535, kFieldIntegrate,
                 [&](ParameterBlock& b) { b.nIntegrate = static_cast<uint16_t>(nUs); });
}

int32_t Acquisition_SetDRConfigSerialTimeSpan(ORVIAcqHandle hDetector, int32_t nMs) {
    return Stage(hDetector, In16(nMs), kFieldSerialTimeSpan,
                 [&](ParameterBlock& b) { b.nSerialTimeSpan = static_cast<uint16_t>(nMs); });
}

int32_t Acquisition_SetDRConfigAecMode(ORVIAcqHandle hDetector, int32_t nMode) {
    return Stage(hDetector, IsFlag(nMode), kFieldAecMode,
                 [&](ParameterBlock& b) { b.nAecMode = static_cast<uint16_t>(nMode); });
}

int32_t Acquisition_SetDRConfigAecSensor(ORVIAcqHandle hDetector, int32_t nSensor1, int32_t nSensor2, int32_t nSensor3,
                                         int32_t nReset) {
    const bool bIn = IsFlag(nSensor1) && IsFlag(nSensor2) && IsFlag(nSensor3) && IsFlag(nReset);
    return Stage(hDetector, bIn, kFieldSensor, [&](ParameterBlock& b) {
        b.sensor = {static_cast<uint8_t>(nSensor1), static_cast<uint8_t>(nSensor2), static_cast<uint8_t>(nSensor3),
                    static_cast<uint8_t>(nReset)};
    });
}

int32_t Acquisition_SetDRConfigAecGain(ORVIAcqHandle hDetector, int32_t nGain0, int32_t nGain1, int32_t nGain2,
                                       int32_t nGain3) {
    const bool bIn = IsFlag(nGain0) && IsFlag(nGain1) && IsFlag(nGain2) && IsFlag(nGain3);
    return Stage(hDetector, bIn, kFieldGain, [&](ParameterBlock& b) {
        b.gain = {static_cast<uint8_t>(nGain0), static_cast<uint8_t>(nGain1), static_cast<uint8_t>(nGain2),
                  static_cast<uint8_t>(nGain3)};
    });
}

int32_t Acquisition_SetDRConfigSetDelayTime(ORVIAcqHandle hDetector, int32_t nMs) {
    return Stage(hDetector, In16(nMs), kFieldSetDelayTime,
                 [&](ParameterBlock& b) { b.nSetDelayTime = static_cast<uint16_t>(nMs); });
}

int32_t Acquisition_SetDRConfigClearTime(ORVIAcqHandle hDetector, int32_t nMs) {
    return Stage(hDetector, In16(nMs), kFieldClearTime,
                 [&](ParameterBlock& b) { b.nClearTime = static_cast<uint16_t>(nMs); });
}

int32_t AcquisitionExt_GetDetectorSerial(ORVIAcqHandle hDetector, char* pBuffer, int32_t nSize) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (pBuffer == nullptr || nSize < 1) return ORVIACQ_ERR_ARGUMENT;
    const auto& serial = d->Values().serial;
    size_t n = 0;
    while (n < serial.size() && n + 1 < size_t(nSize) && serial[n] != '\0') {
        pBuffer[n] = serial[n];
        ++n;
    }
    pBuffer[n] = '\0';
    return ORVIACQ_OK;
}

int32_t Acquisition_GetDRConfigVersion(ORVIAcqHandle hDetector, int32_t* pMajor, int32_t* pMinor, int32_t* pBuild) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (pMajor == nullptr || pMinor == nullptr || pBuild == nullptr) return ORVIACQ_ERR_ARGUMENT;
    const auto& v = d->Values().version;
    *pMajor = v[0];
    *pMinor = v[1];
    *pBuild = v[2];
    return ORVIACQ_OK;
}

float Acquisition_GetDRConfigVT(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return d == nullptr ? 0.0f : static_cast<float>(d->Values().nVtMilliVolts) / 1000.0f;
}

uint16_t Acquisition_GetDRConfigPGA(ORVIAcqHandle hDetector) {
    return Get16(hDetector, [](const ParameterBlock& b) { return b.nPga; });
}

uint16_t Acquisition_GetDRConfigAecExpTime(ORVIAcqHandle hDetector) {
    return Get16(hDetector, [](const ParameterBlock& b) { return b.nAecExpTime; });
}

uint16_t Acquisition_GetDRConfigIntegrate(ORVIAcqHandle hDetector) {
    return Get16(hDetector, [](const ParameterBlock& b) { return b.nIntegrate; });
}

uint16_t Acquisition_GetDRConfigSerialTimeSpan(ORVIAcqHandle hDetector) {
    return Get16(hDetector, [](const ParameterBlock& b) { return b.nSerialTimeSpan; });
}

int32_t Acquisition_GetDRConfigAecMode(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return d == nullptr ? ORVIACQ_ERR_HANDLE : int32_t{d->Values().nAecMode};
}

int32_t Acquisition_GetDRConfigAecSensor(ORVIAcqHandle hDetector, int32_t* pSensor1, int32_t* pSensor2,
                                         int32_t* pSensor3, int32_t* pReset) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (pSensor1 == nullptr || pSensor2 == nullptr || pSensor3 == nullptr || pReset == nullptr)
        return ORVIACQ_ERR_ARGUMENT;
    const auto& s = d->Values().sensor;
    *pSensor1 = s[0];
    *pSensor2 = s[1];
    *pSensor3 = s[2];
    *pReset = s[3];
    return ORVIACQ_OK;
}

int32_t Acquisition_GetDRConfigAecGain(ORVIAcqHandle hDetector, int32_t* pGain0, int32_t* pGain1, int32_t* pGain2,
                                       int32_t* pGain3) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (pGain0 == nullptr || pGain1 == nullptr || pGain2 == nullptr || pGain3 == nullptr) return ORVIACQ_ERR_ARGUMENT;
    const auto& g = d->Values().gain;
    *pGain0 = g[0];
    *pGain1 = g[1];
    *pGain2 = g[2];
    *pGain3 = g[3];
    return ORVIACQ_OK;
}

uint16_t Acquisition_GetDRConfigSetDelayTime(ORVIAcqHandle hDetector) {
    return Get16(hDetector, [](const ParameterBlock& b) { return b.nSetDelayTime; });
}

uint16_t Acquisition_GetDRConfigClearTime(ORVIAcqHandle hDetector) {
    return Get16(hDetector, [](const ParameterBlock& b) { return b.nClearTime; });
}

uint16_t Acquisition_GetInnerDelayTime(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return (d == nullptr || !d->LinkUp()) ? 0 : d->Registers().nSetDelayTime;
}

// ---- acquisition ---------------------------------------------------------------

int32_t Acquisition_StartAecReady(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return d == nullptr ? ORVIACQ_ERR_HANDLE : d->StartAecReady();
}

int32_t Acquisition_StartAcquisition(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return d == nullptr ? ORVIACQ_ERR_HANDLE : d->StartFrame(false, 0);
}

int32_t Acquisition_StartClearTimeAcquisition(ORVIAcqHandle hDetector, uint16_t nDelayMs) {
    CSimDetector* d = Find(hDetector);
    return d == nullptr ? ORVIACQ_ERR_HANDLE : d->StartFrame(true, nDelayMs);
}

// ---- correction ----------------------------------------------------------------

int32_t Correction_SetDoGain(ORVIAcqHandle hDetector, int32_t nOn) {
    return SetCorrection(hDetector, nOn, Correction::Gain);
}

int32_t Correction_SetDoDefect(ORVIAcqHandle hDetector, int32_t nOn) {
    return SetCorrection(hDetector, nOn, Correction::Defect);
}

int32_t Correction_SetDoOffset2(ORVIAcqHandle hDetector, int32_t nOn) {
    return SetCorrection(hDetector, nOn, Correction::Offset2);
}

int32_t Correction_SetAutoOffset(ORVIAcqHandle hDetector, int32_t nOn) {
    return SetCorrection(hDetector, nOn, Correction::AutoOffset);
}

// ---- the simulated detector ------------------------------------------------------

int32_t AcquisitionSim_FireXray(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return d == nullptr ? ORVIACQ_ERR_HANDLE : d->FireXray();
}

int32_t AcquisitionSim_SetAutoFire(ORVIAcqHandle hDetector, int32_t nMs) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (nMs < -1 || nMs > kMaxAutoFireMs) return ORVIACQ_ERR_RANGE;
    d->SetAutoFire(nMs);
    return ORVIACQ_OK;
}

int32_t AcquisitionSim_GetXrayDue(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return d == nullptr ? ORVIACQ_ERR_HANDLE : d->XrayDue();
}

int32_t AcquisitionSim_SetObjectIn(ORVIAcqHandle hDetector, int32_t nIn) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (!IsFlag(nIn)) return ORVIACQ_ERR_ARGUMENT;
    d->SetObjectIn(nIn == 1);
    return ORVIACQ_OK;
}

int32_t AcquisitionSim_SetDose(ORVIAcqHandle hDetector, int32_t nDose) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (nDose < 0 || nDose > ORVIACQ_MAX_PIXEL) return ORVIACQ_ERR_RANGE;
    d->SetDose(nDose);
    return ORVIACQ_OK;
}

int32_t AcquisitionSim_SendCorruptPacket(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    return d == nullptr ? ORVIACQ_ERR_HANDLE : d->SendCorruptPacket();
}

int32_t AcquisitionSim_DropLink(ORVIAcqHandle hDetector) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    d->DropLink();
    return ORVIACQ_OK;
}

int32_t AcquisitionSim_GetFrameSize(ORVIAcqHandle hDetector, int32_t* pWidth, int32_t* pHeight) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (pWidth == nullptr || pHeight == nullptr) return ORVIACQ_ERR_ARGUMENT;
    *pWidth = d->Model().Width();
    *pHeight = d->Model().Height();
    return ORVIACQ_OK;
}

int32_t AcquisitionSim_GetObjectRect(ORVIAcqHandle hDetector, ORVIAcqSimRect* pRect) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (pRect == nullptr) return ORVIACQ_ERR_ARGUMENT;
    *pRect = d->Model().ObjectRect();
    return ORVIACQ_OK;
}

int32_t AcquisitionSim_GetDefects(ORVIAcqHandle hDetector, ORVIAcqSimDefect* pOut, int32_t nCapacity) {
    CSimDetector* d = Find(hDetector);
    if (d == nullptr) return ORVIACQ_ERR_HANDLE;
    if (nCapacity < 0 || (nCapacity > 0 && pOut == nullptr)) return ORVIACQ_ERR_ARGUMENT;
    const auto& v = d->Model().Defects();
    const size_t n = std::min(v.size(), static_cast<size_t>(nCapacity));
    for (size_t i = 0; i < n; ++i) pOut[i] = v[i];
    return static_cast<int32_t>(v.size());
}

}  // extern "C"
