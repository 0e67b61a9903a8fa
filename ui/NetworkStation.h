#pragma once
// The station on the hospital network, as the window shows it: the [DICOM]
// settings, the outbox and its worker, the status bar's "PACS: ..." text, and
// the Network menu (Network, Worklist, Outbox). Queries run on threads of
// their own; their results come back through the main-thread executor, so the
// window never waits for the network.
#include "export/dicom/PatientStudy.h"
#include "export/dicom/net/DicomNet.h"
#include "export/dicom/net/NetConfig.h"
#include "export/dicom/net/Outbox.h"
#include "ui/QtMainThreadExecutor.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QLabel;
class QMenu;
class QTimer;
class QWidget;

namespace orvi {

class CNetworkDlg;
class COutboxDlg;
class CWorklistDlg;

class CNetworkStation final : public QObject {
    Q_OBJECT
public:
    // Reads [DICOM] of strIniPath and starts the outbox when a PACS is set.
    CNetworkStation(QWidget* pWindow, const std::string& strIniPath, const std::string& strImagePath);
    ~CNetworkStation() override;

    const dicom::CNetConfig& Config() const { return m_config; }
    // "Network", with one entry per dialog.
    QMenu* Menu() const { return m_pMenu; }
    // The status bar's "PACS: ..." text.
    QLabel* StatusLabel() const { return m_pStatus; }
    const dicom::COutboxStatus& OutboxStatus() const { return m_status; }
    // An outbox problem that stops every sending (its folder cannot be made), or "".
    const std::string& OutboxError() const { return m_strOutboxError; }

    // The patient and study of the next exposures: the worklist item last chosen.
    const dicom::CPatientStudy& PatientStudy() const { return m_patient; }
    void SetPatientStudy(const dicom::CPatientStudy& ps);

    // A DICOM file written for an exposure: it goes to the PACS through the
    // outbox. Returns at once. The DICOM writer calls it for every file.
    void OnDicomFileWritten(const std::string& strPath);
    void SendNow();

    // Runs fnWork on a thread of its own and fnDone with its result on the
    // window thread, unless pGuard was deleted meanwhile.
    template <typename R>
    void RunInBackground(QObject* pGuard, std::function<R()> fnWork, std::function<void(const R&)> fnDone) {
        QPointer<QObject> guard(pGuard);
        Background([this, guard, fnWork = std::move(fnWork), fnDone = std::move(fnDone)] {
            R result = fnWork();
            m_executor.Post([guard, fnDone, result = std::move(result)] {
                if (guard) fnDone(result);
            });
        });
    }

    void ShowNetworkDialog();
    void ShowWorklistDialog();
    void ShowOutboxDialog();
    // The open dialogs, or nullptr.
    CNetworkDlg* NetworkDialog() const;
    CWorklistDlg* WorklistDialog() const;
    COutboxDlg* OutboxDialog() const;

signals:
    void StatusChanged();
    void PatientStudyChanged();

private:
    void Background(std::function<void()> fnWork);
    void OnOutboxStatus(const dicom::COutboxStatus& s);
    // The status text, with the seconds to the next try counted down.
    void ShowStatusText();

    QWidget* m_pWindow;
    dicom::CNetConfig m_config;
    dicom::CPatientStudy m_patient;
    CQtMainThreadExecutor m_executor;
    std::unique_ptr<dicom::COutbox> m_pOutbox;
    dicom::COutboxStatus m_status;
    std::string m_strOutboxError;
    QMenu* m_pMenu = nullptr;
    QLabel* m_pStatus = nullptr;
    QTimer* m_pCountdown = nullptr;
    QElapsedTimer m_sinceStatus;
    QPointer<CNetworkDlg> m_pNetworkDlg;
    QPointer<CWorklistDlg> m_pWorklistDlg;
    QPointer<COutboxDlg> m_pOutboxDlg;
    std::mutex m_threadsMutex;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> pDone;
    };
    std::vector<Worker> m_threads;
};

}  // namespace orvi
