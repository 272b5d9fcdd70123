#include "ui/engine_update_poster.h"

#include <QCoreApplication>

void EngineUpdatePoster::Notify() {
    if (m_pending.exchange(true)) return;
    std::lock_guard lock(m_targetMutex);
    if (m_target) {
        QCoreApplication::postEvent(m_target, new QEvent(kEngineUpdateEvent));
    } else {
        m_pending.store(false);
    }
}

void EngineUpdatePoster::Detach() {
    std::lock_guard lock(m_targetMutex);
    m_target = nullptr;
}

EngineNotifier MakeEngineNotifier(std::shared_ptr<EngineUpdatePoster> poster) {
    // The window reads the state itself when the event arrives; the report only
    // says that there is something new to show.
    return [poster = std::move(poster)](const PassReport&) { poster->Notify(); };
}
