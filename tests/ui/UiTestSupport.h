#pragma once
// Helpers for widget tests.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <string>
#include <vector>

namespace orvi::test {

// Answers every modal message box that opens while it lives, keeping its text.
class MessageBoxCloser {
public:
    MessageBoxCloser() {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.push_back(pBox->text().toStdString());
                captions.push_back(pBox->windowTitle().toStdString());
                pBox->accept();
            }
        });
        m_timer.start();
    }
    std::vector<std::string> texts;
    std::vector<std::string> captions;

private:
    QTimer m_timer;
};

}  // namespace orvi::test
