#pragma once

// The framework completions of the macOS backends run on queues of their own; the platform interfaces
// promise their callers the main thread, later than the call.

#include <QCoreApplication>
#include <QMetaObject>
#include <functional>

namespace macos {

// Runs `task` on the main thread at a later turn of its event loop; dropped when the application is gone.
inline void postToMainThread(std::function<void()> task)
{
    if (QCoreApplication* application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, std::move(task), Qt::QueuedConnection);
}

} // namespace macos
