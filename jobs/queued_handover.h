#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "jobs/ui_handover.h"

namespace korvel {

// A hand-over for front ends without an event loop of their own: workers queue
// steps, and the thread that plays the user-interface thread serves them.
class QueuedHandover : public UiHandover {
  public:
    void Synchronize(const std::function<void()>& step) override;
    void Post(std::function<void()> step) override;

    // Runs every queued step on the calling thread, waiting up to `wait` for
    // the first one. Returns how many steps ran.
    int Serve(std::chrono::milliseconds wait);

  private:
    // A synchronized step, owned by its waiting worker.
    struct Request {
        const std::function<void()>* step;
        bool done = false;
    };
    // What waits in the queue: a posted step, or a worker's request.
    struct Entry {
        std::function<void()> posted;
        Request* request = nullptr;
    };

    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    std::deque<Entry> queue_;
};

}  // namespace korvel
