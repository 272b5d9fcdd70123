#pragma once
// Carries the worker's refresh requests to the window as posted Qt events.
//
// Thread rules: Notify() runs on the worker (any thread); Detach() and Acknowledge()
// on the UI thread. Posting never blocks and never waits for the UI thread.
// At most one refresh event is outstanding at a time: a busy UI thread gets one
// refresh for any number of notifications instead of a growing queue.

#include <QEvent>
#include <atomic>
#include <memory>
#include <mutex>

#include "engine/engine.h"

class QObject;

// The event type of a refresh request, registered with Qt once per process.
inline const QEvent::Type kEngineUpdateEvent =
    static_cast<QEvent::Type>(QEvent::registerEventType());

class EngineUpdatePoster {
public:
    explicit EngineUpdatePoster(QObject* target) : m_target(target) {}

    // Posts a kEngineUpdateEvent to the target unless one is already pending or the
    // target has been detached.
    void Notify();
    // Called by the target when it starts handling the event: a notification that
    // arrives from now on posts again.
    void Acknowledge() { m_pending.store(false); }
    // After this returns no event is posted any more; call before the target goes.
    void Detach();

private:
    std::mutex m_targetMutex;  // guards m_target: Detach must not race a post in progress
    QObject* m_target;         // guarded by m_targetMutex
    std::atomic<bool> m_pending{false};
};

// The notifier to give the engine: it keeps the poster alive as long as the
// engine may call it.
[[nodiscard]] EngineNotifier MakeEngineNotifier(std::shared_ptr<EngineUpdatePoster> poster);
