#include "jobs/queued_handover.h"

namespace korvel {

void QueuedHandover::Synchronize(const std::function<void()>& step) {
    Request request{&step};
    std::unique_lock lock(mutex_);
    queue_.push_back({nullptr, &request});
    queued_.notify_one();
    finished_.wait(lock, [&] { return request.done; });
}

void QueuedHandover::Post(std::function<void()> step) {
    std::lock_guard lock(mutex_);
    queue_.push_back({std::move(step), nullptr});
    queued_.notify_one();
}

int QueuedHandover::Serve(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    queued_.wait_for(lock, wait, [&] { return !queue_.empty(); });
    int served = 0;
    while (!queue_.empty()) {
        Entry entry = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        if (entry.request == nullptr) {
            entry.posted();
            lock.lock();
            ++served;
            continue;
        }
        // A step that throws must still release its worker.
        try {
            (*entry.request->step)();
        } catch (...) {
            lock.lock();
            entry.request->done = true;
            finished_.notify_all();
            throw;
        }
        lock.lock();
        entry.request->done = true;
        ++served;
        finished_.notify_all();
    }
    return served;
}

}  // namespace korvel
