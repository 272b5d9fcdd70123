#pragma once
// Running a read that may wait (a net file or flash image on a FIFO whose writer
// is slow, a file on a stalled network share) off the UI thread, so the window
// never freezes: the work runs on a thread of its own while the UI thread goes on
// handling its posted events (repaints, the engine's pass reports). Input to the
// window is held back meanwhile, so nothing starts a second load under the first.
// The caller gets the result as if it had called `work` itself.
//
// Thread rules: call on the UI thread; `work` runs on another thread and must
// touch nothing of the UI (the file readers of src/files touch only their files).

#include <QEventLoop>
#include <QMetaObject>
#include <optional>
#include <thread>
#include <utility>

template <typename Work>
auto RunOffUiThread(Work work) -> decltype(work()) {
    std::optional<decltype(work())> result;
    QEventLoop loop;
    std::thread worker([&] {
        result.emplace(work());
        // Queued: delivered once the loop runs, however soon the work ends.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    return std::move(*result);
}
