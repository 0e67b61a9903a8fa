#include "ui/QtMainThreadExecutor.h"

#include <QMetaObject>

namespace orvi {

void CQtMainThreadExecutor::Post(std::function<void()> fnTask) {
    // A queued call is thread-safe and runs on the thread this object lives in.
    QMetaObject::invokeMethod(this, std::move(fnTask), Qt::QueuedConnection);
}

}  // namespace orvi
