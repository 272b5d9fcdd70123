#include "ui/engine_update_poster.h"

#include <QCoreApplication>

EngineUpdatePoster::EngineUpdatePoster(QObject* target)
    : m_target(target), m_samples(kMaxQueuedSamples), m_afterGap(kMaxQueuedSamples) {}

void EngineUpdatePoster::Notify(const PassReport& report) {
    {
        std::lock_guard lock(m_samplesMutex);
        m_latest = report;
        m_hasLatest = true;
        if (report.kind != PassReport::Kind::Pass || !report.valuesRead) m_gap = true;
    }
    if (report.kind == PassReport::Kind::Pass && report.valuesRead) {
        // Stamped here, on the worker, so a late refresh does not shift the times.
        PassSample sample;
        sample.steady = std::chrono::steady_clock::now();
        sample.wall = std::chrono::system_clock::now();
        sample.mode = report.mode;
        sample.inputs = report.inputs;
        sample.outputs = report.outputs;
        std::lock_guard lock(m_samplesMutex);
        if (m_count == m_samples.size()) {
            m_first = (m_first + 1) % m_samples.size();
            --m_count;
        }
        m_samples[(m_first + m_count) % m_samples.size()] = sample;
        m_afterGap[(m_first + m_count) % m_samples.size()] = m_gap;
        m_gap = false;
        ++m_count;
    }
    if (m_pending.exchange(true)) return;
    std::lock_guard lock(m_targetMutex);
    if (m_target) {
        QCoreApplication::postEvent(m_target, new QEvent(kEngineUpdateEvent));
    } else {
        m_pending.store(false);
    }
}

void EngineUpdatePoster::TakeSamples(std::vector<PassSample>& into, std::vector<bool>& afterGap) {
    into.clear();
    afterGap.clear();
    std::lock_guard lock(m_samplesMutex);
    for (std::size_t n = 0; n < m_count; ++n) {
        into.push_back(m_samples[(m_first + n) % m_samples.size()]);
        afterGap.push_back(m_afterGap[(m_first + n) % m_samples.size()]);
    }
    m_first = 0;
    m_count = 0;
}

bool EngineUpdatePoster::TakeLatest(PassReport& into) {
    std::lock_guard lock(m_samplesMutex);
    if (!m_hasLatest) return false;
    into = m_latest;
    m_hasLatest = false;
    return true;
}

void EngineUpdatePoster::Detach() {
    std::lock_guard lock(m_targetMutex);
    m_target = nullptr;
}

EngineNotifier MakeEngineNotifier(std::shared_ptr<EngineUpdatePoster> poster) {
    // The window shows the latest report when the event arrives; the samples carry
    // each pass's values for the recording, the chart and the comparison counts.
    return [poster = std::move(poster)](const PassReport& report) { poster->Notify(report); };
}
