#include "app/qt_ui_handover.h"

#include <QThread>
#include <algorithm>

namespace korvel::app {

QtUiHandover::QtUiHandover(QObject* parent) : QObject(parent) {}

QtUiHandover::~QtUiHandover() {
    Shutdown();
}

void QtUiHandover::Synchronize(const std::function<void()>& step) {
    if (QThread::currentThread() == thread()) {
        step();
        return;
    }
    auto request = std::make_shared<Request>();
    request->step = &step;
    std::unique_lock lock(mutex_);
    if (shutDown_) {
        return;
    }
    pending_.push_back(request);
    // The queued call holds its own reference: it may run after this worker
    // was released, and then finds the request dropped.
    QMetaObject::invokeMethod(
        this, [this, request] { run(request); }, Qt::QueuedConnection);
    finished_.wait(lock, [&] { return request->finished || request->dropped; });
    std::erase(pending_, request);
}

void QtUiHandover::Post(std::function<void()> step) {
    if (QThread::currentThread() == thread()) {
        step();
        return;
    }
    std::lock_guard lock(mutex_);
    if (shutDown_) {
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, step = std::move(step)] {
            {
                std::lock_guard stepLock(mutex_);
                if (shutDown_) {
                    return;
                }
            }
            step();
        },
        Qt::QueuedConnection);
}

void QtUiHandover::run(const std::shared_ptr<Request>& request) {
    {
        std::lock_guard lock(mutex_);
        if (request->dropped) {
            return;
        }
        request->started = true;
    }
    // Whatever the step does, its worker must be released.
    struct Release {
        QtUiHandover& handover;
        Request& request;
        ~Release() {
            std::lock_guard lock(handover.mutex_);
            request.finished = true;
            handover.finished_.notify_all();
        }
    } release{*this, *request};
    (*request->step)();
}

void QtUiHandover::Shutdown() {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    // A step already running (a dialog, say) finishes first and releases its
    // worker itself; every other waiting worker goes on without its step.
    for (const auto& request : pending_) {
        if (!request->started) {
            request->dropped = true;
        }
    }
    finished_.notify_all();
}

}  // namespace korvel::app
