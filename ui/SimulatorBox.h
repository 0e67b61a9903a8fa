#pragma once
// The "Simulated detector" group at the foot of the control panel, shown only
// when the acquisition library is the simulator: the test object in or out of
// the beam (out for bright calibration frames) and the dose. It only reports
// the operator's choices; the main window tells the simulator.
#include <QGroupBox>

class QCheckBox;
class QSpinBox;

namespace orvi {

class CSimulatorBox final : public QGroupBox {
    Q_OBJECT
public:
    explicit CSimulatorBox(QWidget* pParent = nullptr);

    bool ObjectIn() const;
    int Dose() const;
    // Shows these values without reporting them as a choice.
    void SetValues(bool bObjectIn, int nDose);

    QCheckBox* ObjectBox() const { return m_pObject; }
    QSpinBox* DoseBox() const { return m_pDose; }

signals:
    void Changed();

private:
    QCheckBox* m_pObject = nullptr;
    QSpinBox* m_pDose = nullptr;
};

}  // namespace orvi
