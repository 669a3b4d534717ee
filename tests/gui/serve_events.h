#pragma once

#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace korvel::test {

// Runs a real event loop, which wakes for every posted event as the program's
// own does, until the condition holds or the time is up. Returns the condition.
inline bool ServeEventsUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    if (condition()) {
        return true;
    }
    QEventLoop loop;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return condition();
}

}  // namespace korvel::test
