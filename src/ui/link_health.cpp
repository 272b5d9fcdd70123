#include "ui/link_health.h"

#include <cmath>
#include <ctime>

void LinkHealth::Pass(std::int32_t mode, bool ok, const LinkError& failure, Steady steady,
                      Wall wall) {
    linkMode_ = mode == MODE_MONITOR || mode == MODE_EMULATOR;
    if (!linkMode_) {
        // The window computes the values itself now; an outage going on ends unseen.
        down_.reset();
        lastGood_.reset();
        return;
    }
    if (!ok) {
        lastFailure_ = failure;
        if (!down_) {
            // The values stopped with the last good pass, not when a pass found out
            // (a silent module takes a read's whole time-out to notice).
            const Steady start = lastGood_ ? *lastGood_ : steady;
            down_ = Outage{
                wall - std::chrono::duration_cast<Wall::duration>(steady - start), start, {}};
        }
        return;
    }
    if (down_) {
        down_->length = steady - down_->start;
        outages_.push_back(*down_);
        if (outages_.size() > kMaxLinkEvents) outages_.pop_front();
        down_.reset();
    }
    lastGood_ = steady;
}

bool LinkHealth::Stale(Steady now) const {
    if (!linkMode_) return false;
    if (down_) return true;
    // Before the first good pass nothing shown came from the module.
    return !lastGood_ || now - *lastGood_ > kStaleAfter;
}

std::optional<std::chrono::steady_clock::duration> LinkHealth::SinceGood(Steady now) const {
    if (!lastGood_) return std::nullopt;
    return now - *lastGood_;
}

std::string LinkHealth::OutageText(const Outage& outage) {
    const std::time_t t = std::chrono::system_clock::to_time_t(outage.startWall);
    std::tm local{};
    localtime_r(&t, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    const long seconds = std::lround(std::chrono::duration<double>(outage.length).count());
    return "link down " + std::to_string(seconds) + " s at " + clock;
}
