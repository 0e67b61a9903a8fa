// hidapi (hidraw) under Pelkio. hidapi offers no HID capability record, so the
// report lengths are the library's fixed ones (see Pelkio.h).
#include "usbio/hidapi/HidapiBackend.h"

#include <hidapi.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace pelkio {
namespace {

// An open hidapi device, closed when the last owner lets go. A write that
// overran its time limit keeps the handle alive until the write returns.
struct CHandle {
    explicit CHandle(hid_device* p) : pDevice(p) {}
    ~CHandle() { hid_close(pDevice); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    hid_device* pDevice;
};

// One write running on its own thread, so the caller can stop waiting for it.
struct CPendingWrite {
    std::shared_ptr<CHandle> pHandle;
    std::vector<uint8_t> report;
    std::mutex mutex;
    std::condition_variable done;
    bool bDone = false;
    int nResult = -1;
};

class CHidapiDevice final : public IHidDevice {
public:
    explicit CHidapiDevice(hid_device* pDevice) : m_pHandle(std::make_shared<CHandle>(pDevice)) {}

    // A hidraw write blocks in the kernel until the board takes the report, for
    // several seconds when it does not. The write runs on a helper thread so the
    // caller waits no longer than the limit; after a time-out the helper
    // finishes on its own and the handle is closed when it does.
    HidResult Write(const uint8_t* pReport, size_t nLength, uint32_t nTimeoutMs) override {
        auto pWrite = std::make_shared<CPendingWrite>();
        pWrite->pHandle = m_pHandle;
        pWrite->report.assign(pReport, pReport + nLength);
        try {
            std::thread([pWrite] {
                int nResult = hid_write(pWrite->pHandle->pDevice, pWrite->report.data(), pWrite->report.size());
                std::lock_guard<std::mutex> lock(pWrite->mutex);
                pWrite->nResult = nResult;
                pWrite->bDone = true;
                pWrite->done.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            return HidResult::Failed;  // no thread to be had
        }
        std::unique_lock<std::mutex> lock(pWrite->mutex);
        if (!pWrite->done.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return pWrite->bDone; }))
            return HidResult::TimedOut;
        return pWrite->nResult == static_cast<int>(nLength) ? HidResult::Ok : HidResult::Failed;
    }

    // hidraw hands over reports of a device without numbered reports as they
    // are, without an id; the board's reports are not numbered, so id 0 is put
    // in front.
    HidResult Read(uint8_t* pBuffer, size_t nCapacity, size_t& nLength, uint32_t nTimeoutMs) override {
        nLength = 0;
        if (nCapacity < 2) return HidResult::Failed;
        int n = hid_read_timeout(m_pHandle->pDevice, pBuffer + 1, nCapacity - 1, static_cast<int>(nTimeoutMs));
        if (n < 0) return HidResult::Failed;
        if (n == 0) return HidResult::TimedOut;
        pBuffer[0] = 0;
        nLength = static_cast<size_t>(n) + 1;
        return HidResult::Ok;
    }

private:
    std::shared_ptr<CHandle> m_pHandle;
};

class CHidapiBackend final : public IHidBackend {
public:
    CHidapiBackend() : m_bReady(hid_init() == 0) {}
    // No hid_exit: a write that overran its limit may still be using hidapi on
    // its helper thread.

    std::vector<CHidDeviceInfo> Enumerate(uint16_t nVendorId, uint16_t nProductId) override {
        std::vector<CHidDeviceInfo> list;
        if (!m_bReady) return list;
        hid_device_info* pFirst = hid_enumerate(nVendorId, nProductId);
        for (hid_device_info* p = pFirst; p; p = p->next) {
            if (!p->path) continue;
            list.push_back({p->path, p->vendor_id, p->product_id});
        }
        hid_free_enumeration(pFirst);
        return list;
    }

    std::unique_ptr<IHidDevice> Open(const std::string& strPath) override {
        if (!m_bReady) return nullptr;
        hid_device* pDevice = hid_open_path(strPath.c_str());
        if (!pDevice) return nullptr;
        return std::make_unique<CHidapiDevice>(pDevice);
    }

private:
    bool m_bReady;
};

}  // namespace

std::unique_ptr<IHidBackend> CreateHidapiBackend() { return std::make_unique<CHidapiBackend>(); }

}  // namespace pelkio
