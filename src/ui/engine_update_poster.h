#pragma once
// Carries the worker's pass reports to the window: it keeps the latest report for
// the window's refresh and the values of every pass that produced some (for the
// recording, the chart and the comparison counts), and posts a Qt event to say so.
//
// Thread rules: Notify() runs on the worker (any thread); Detach(), Acknowledge()
// and TakeSamples() on the UI thread. Posting never blocks and never waits for the
// UI thread; the sample queue's mutex is held only to copy a sample in or out.
// At most one refresh event is outstanding at a time: a busy UI thread gets one
// refresh for any number of notifications instead of a growing queue. The samples
// of a UI thread that falls far behind are bounded too: the oldest give way.

#include <QEvent>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/engine.h"
#include "network/pass_values.h"

class QObject;

// The event type of a refresh request, registered with Qt once per process so it
// cannot clash with another user event type.
inline const QEvent::Type kEngineUpdateEvent =
    static_cast<QEvent::Type>(QEvent::registerEventType());

// How many passes wait for the UI thread at most (minutes of Monitor passes).
inline constexpr std::size_t kMaxQueuedSamples = 4096;

class EngineUpdatePoster {
public:
    explicit EngineUpdatePoster(QObject* target);

    // Queues the values of a pass that produced some, stamped now, then posts a
    // kEngineUpdateEvent to the target unless one is already pending or the target
    // has been detached.
    void Notify(const PassReport& report);
    // Called by the target when it starts handling the event: a notification that
    // arrives from now on posts again.
    void Acknowledge() { m_pending.store(false); }
    // Replaces the contents of `into` with the queued samples, oldest first; the
    // queue is empty afterwards. Reusing one vector (reserved for kMaxQueuedSamples)
    // keeps allocation out of the lock that the worker may wait for.
    // `afterGap` says for each sample whether a pass without values (a failure, a
    // pass of Hold) or a change of mode came before it, so that it does not follow
    // the sample before it directly.
    void TakeSamples(std::vector<PassSample>& into, std::vector<bool>& afterGap);
    // The latest report into `into` when one came since the last call; false (and
    // `into` untouched) otherwise.
    [[nodiscard]] bool TakeLatest(PassReport& into);
    // After this returns no event is posted any more; call before the target goes.
    void Detach();

private:
    std::mutex m_targetMutex;  // guards m_target: Detach must not race a post in progress
    QObject* m_target;         // guarded by m_targetMutex
    std::atomic<bool> m_pending{false};

    // A ring allocated once, so the worker never allocates while queueing.
    std::mutex m_samplesMutex;          // guards the seven fields below
    PassReport m_latest;                // guarded by m_samplesMutex
    bool m_hasLatest = false;           // guarded by m_samplesMutex
    bool m_gap = false;                 // guarded by m_samplesMutex: a pass without values came
    std::vector<PassSample> m_samples;  // guarded by m_samplesMutex; kMaxQueuedSamples long
    std::vector<bool> m_afterGap;       // guarded by m_samplesMutex; beside m_samples
    std::size_t m_first = 0;            // guarded by m_samplesMutex
    std::size_t m_count = 0;            // guarded by m_samplesMutex
};

// The notifier to give the engine: it keeps the poster alive as long as the
// engine may call it.
[[nodiscard]] EngineNotifier MakeEngineNotifier(std::shared_ptr<EngineUpdatePoster> poster);
