#include "ui/SimulatorBox.h"

#include "acquisition/SimulatorControls.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QWheelEvent>

namespace orvi {

namespace {

// Like the panel's drop-down lists, the dose box takes wheel turns only with
// the focus; otherwise they go on to the main window, which zooms the image.
class CPanelSpinBox final : public QSpinBox {
public:
    explicit CPanelSpinBox(QWidget* pParent) : QSpinBox(pParent) { setFocusPolicy(Qt::StrongFocus); }

protected:
    void wheelEvent(QWheelEvent* pEvent) override {
        if (hasFocus())
            QSpinBox::wheelEvent(pEvent);
        else
            pEvent->ignore();
    }
};

}  // namespace

CSimulatorBox::CSimulatorBox(QWidget* pParent) : QGroupBox(QStringLiteral("Simulated detector"), pParent) {
    setObjectName(QStringLiteral("SimulatorBox"));
    setToolTip(QStringLiteral("Controls of the simulated detector; a real detector has none."));
    m_pObject = new QCheckBox(QStringLiteral("Test object in beam"), this);
    m_pObject->setToolTip(QStringLiteral("Untick for an open beam, as bright calibration frames need."));
    m_pDose = new CPanelSpinBox(this);
    m_pDose->setRange(0, CSimulatorControls::kMaxDose);
    m_pDose->setSingleStep(500);
    m_pDose->setKeyboardTracking(false);
    m_pDose->setToolTip(QStringLiteral("Signal above the dark level in the open beam, in grey levels."));
    auto* pGrid = new QGridLayout(this);
    pGrid->addWidget(m_pObject, 0, 0, 1, 2);
    pGrid->addWidget(new QLabel(QStringLiteral("Dose:"), this), 1, 0);
    pGrid->addWidget(m_pDose, 1, 1);
    pGrid->setColumnStretch(1, 1);
    connect(m_pObject, &QCheckBox::toggled, this, &CSimulatorBox::Changed);
    connect(m_pDose, &QSpinBox::valueChanged, this, &CSimulatorBox::Changed);
    SetValues(true, 10000);
}

bool CSimulatorBox::ObjectIn() const { return m_pObject->isChecked(); }

int CSimulatorBox::Dose() const { return m_pDose->value(); }

void CSimulatorBox::SetValues(bool bObjectIn, int nDose) {
    const QSignalBlocker b1(m_pObject), b2(m_pDose);
    m_pObject->setChecked(bObjectIn);
    m_pDose->setValue(nDose);
}

}  // namespace orvi
