#pragma once

#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "jobs/ui_handover.h"

namespace korvel::app {

// Carries the worker's steps onto the Qt user-interface thread: each step is
// queued to the thread's event loop; for a synchronized step the worker waits
// until it has run.
//
// Unlike a blocking queued connection, a waiting worker is released when the
// hand-over shuts down (the window goes away while a run is still ending), so
// joining the worker then cannot deadlock; steps not yet begun are dropped.
// The owner shuts the hand-over down, joins its workers, then destroys it.
class QtUiHandover : public QObject, public UiHandover {
    Q_OBJECT

  public:
    explicit QtUiHandover(QObject* parent = nullptr);
    ~QtUiHandover() override;

    // Runs the step at once when called on the user-interface thread itself.
    void Synchronize(const std::function<void()>& step) override;
    // Posted steps still queued at Shutdown are dropped, like waiting ones.
    void Post(std::function<void()> step) override;

    // Releases every waiting worker and refuses further steps.
    void Shutdown();

  private:
    struct Request {
        const std::function<void()>* step = nullptr;
        bool started = false;
        bool finished = false;
        bool dropped = false;
    };

    void run(const std::shared_ptr<Request>& request);

    std::mutex mutex_;
    std::condition_variable finished_;
    bool shutDown_ = false;
    std::vector<std::shared_ptr<Request>> pending_;
};

}  // namespace korvel::app
