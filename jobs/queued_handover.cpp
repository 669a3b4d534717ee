#include "jobs/queued_handover.h"

namespace korvel {

void QueuedHandover::Synchronize(const std::function<void()>& step) {
    Request request{&step};
    std::unique_lock lock(mutex_);
    requests_.push_back(&request);
    queued_.notify_one();
    finished_.wait(lock, [&] { return request.done; });
}

int QueuedHandover::Serve(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    queued_.wait_for(lock, wait, [&] { return !requests_.empty(); });
    int served = 0;
    while (!requests_.empty()) {
        Request* request = requests_.front();
        requests_.pop_front();
        lock.unlock();
        // A step that throws must still release its worker.
        try {
            (*request->step)();
        } catch (...) {
            lock.lock();
            request->done = true;
            finished_.notify_all();
            throw;
        }
        lock.lock();
        request->done = true;
        ++served;
        finished_.notify_all();
    }
    return served;
}

}  // namespace korvel
