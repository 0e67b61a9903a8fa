#pragma once
// The main-thread executor of the Qt program: a task posted from any thread
// runs on the GUI thread's event loop, in the order posted.
#include "acquisition/MainThreadExecutor.h"

#include <QObject>

namespace orvi {

class CQtMainThreadExecutor final : public QObject, public IMainThreadExecutor {
    Q_OBJECT
public:
    explicit CQtMainThreadExecutor(QObject* pParent = nullptr) : QObject(pParent) {}
    void Post(std::function<void()> fnTask) override;
};

}  // namespace orvi
