// The adapter selection dialog: caption and controls, the adapters sorted and
// the ports in their order, slot B hidden (and disabled without a second
// detector), the four names as chosen or typed.
#include "ui/GbeDlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace orvi {
namespace {

std::vector<std::string> Items(QComboBox* pBox) {
    std::vector<std::string> v;
    for (int i = 0; i < pBox->count(); ++i) v.push_back(pBox->itemText(i).toStdString());
    return v;
}

const std::vector<std::string> kAdapters = {"b-net", "a-net", "C-net", "Simulated GigE Adapter 1"};
const std::vector<std::string> kPorts = {"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0", "SIMCOM1"};

TEST(GbeDlg, CaptionControlsAndLists) {
    CGbeDlg dlg(kAdapters, kPorts, false);
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Select network adapter");
    EXPECT_EQ(qobject_cast<QGroupBox*>(dlg.Control(CGbeDlg::IDC_DETECTOR_GROUP))->title().toStdString(), "Detector");
    EXPECT_EQ(qobject_cast<QLabel*>(dlg.Control(CGbeDlg::IDC_PORT_LABEL))->text().toStdString(), "Serial ports list:");
    bool bAdapterLabel = false;
    for (QLabel* p : dlg.findChildren<QLabel*>()) bAdapterLabel |= p->text() == QStringLiteral("Network adapter list:");
    EXPECT_TRUE(bAdapterLabel);
    EXPECT_EQ(qobject_cast<QPushButton*>(dlg.Control(CGbeDlg::IDOK))->text().toStdString(), "OK");
    EXPECT_TRUE(qobject_cast<QPushButton*>(dlg.Control(CGbeDlg::IDOK))->isDefault());
    EXPECT_EQ(qobject_cast<QPushButton*>(dlg.Control(CGbeDlg::IDCANCEL))->text().toStdString(), "Cancel");

    // Adapters in the order of a sorted list (case ignored); ports as given.
    const std::vector<std::string> sorted = {"a-net", "b-net", "C-net", "Simulated GigE Adapter 1"};
    EXPECT_EQ(Items(dlg.Box(CGbeDlg::IDC_ADAPTER_1)), sorted);
    EXPECT_EQ(Items(dlg.Box(CGbeDlg::IDC_ADAPTER_2)), sorted);
    EXPECT_EQ(Items(dlg.Box(CGbeDlg::IDC_PORT_1)), kPorts);
    EXPECT_EQ(Items(dlg.Box(CGbeDlg::IDC_PORT_2)), kPorts);

    // Nothing chosen at first: every edit field is empty.
    dlg.show();
    for (int nId : {CGbeDlg::IDC_ADAPTER_1, CGbeDlg::IDC_ADAPTER_2, CGbeDlg::IDC_PORT_1, CGbeDlg::IDC_PORT_2}) {
        EXPECT_EQ(dlg.Box(nId)->currentIndex(), -1) << nId;
        EXPECT_TRUE(dlg.Box(nId)->currentText().isEmpty()) << nId;
        EXPECT_TRUE(dlg.Box(nId)->isEditable()) << nId;
    }
    // Slot A shows; slot B never does, and without a second detector is disabled.
    EXPECT_TRUE(dlg.Box(CGbeDlg::IDC_PORT_1)->isVisible());
    EXPECT_TRUE(dlg.Box(CGbeDlg::IDC_ADAPTER_1)->isVisible());
    for (int nId : {CGbeDlg::IDC_ADAPTER_2, CGbeDlg::IDC_PORT_2}) {
        EXPECT_FALSE(dlg.Box(nId)->isVisible()) << nId;
        EXPECT_FALSE(dlg.Box(nId)->isEnabled()) << nId;
    }
    const CAdapterChoice c = dlg.Choice();
    EXPECT_EQ(c.strAdapter1 + c.strAdapter2 + c.strPort1 + c.strPort2, "") << "OK without a choice: four empty names";
}

TEST(GbeDlg, SecondDetectorEnablesTheHiddenSlotBAndNamesComeBackAsChosenOrTyped) {
    CGbeDlg dlg(kAdapters, kPorts, true);
    dlg.show();
    EXPECT_TRUE(dlg.Box(CGbeDlg::IDC_ADAPTER_2)->isEnabled());
    EXPECT_FALSE(dlg.Box(CGbeDlg::IDC_ADAPTER_2)->isVisible());
    dlg.Box(CGbeDlg::IDC_ADAPTER_1)->setCurrentIndex(0);
    dlg.Box(CGbeDlg::IDC_PORT_1)->lineEdit()->setText(QStringLiteral("/dev/ttyACM7"));  // typed
    dlg.Box(CGbeDlg::IDC_ADAPTER_2)->setCurrentIndex(3);
    dlg.Box(CGbeDlg::IDC_PORT_2)->setCurrentIndex(3);
    const CAdapterChoice c = dlg.Choice();
    EXPECT_EQ(c.strAdapter1, "a-net");
    EXPECT_EQ(c.strPort1, "/dev/ttyACM7");
    EXPECT_EQ(c.strAdapter2, "Simulated GigE Adapter 1");
    EXPECT_EQ(c.strPort2, "SIMCOM1");
    EXPECT_EQ(dlg.Box(CGbeDlg::IDC_PORT_1)->count(), 4) << "a typed name is not added to the list";
}

TEST(GbeDlg, EmptyListsLeaveEmptyBoxes) {
    CGbeDlg dlg({}, {}, false);
    EXPECT_EQ(dlg.Box(CGbeDlg::IDC_ADAPTER_1)->count(), 0);
    EXPECT_EQ(dlg.Box(CGbeDlg::IDC_PORT_1)->count(), 0);
}

}  // namespace
}  // namespace orvi
