#include "ui/gui_thread.h"

#include <QThread>

namespace tessaly {

bool OnGuiThread(const QObject* context) { return QThread::currentThread() == context->thread(); }

void PostToGui(QObject* context, std::function<void()> fn) {
    if (OnGuiThread(context)) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

}  // namespace tessaly
