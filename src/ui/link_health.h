#pragma once
// How the link to the module has been doing, as the window tells it: whether the
// values shown are current, how long since the last good pass, and the outages
// that came and went ("link down 13 s at 18:03:05"), so that a fault that cleared
// still shows a minute later.
//
// Values are current after a good pass of a link mode (Monitor, Emulator) until a
// pass fails or kStaleAfter passes without a good one. In the other modes the
// window computes the values itself, and they are always current.
//
// Qt-free, so tests check it directly.
//
// Thread rules: one thread (the window's UI thread).

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>

#include "engine/engine.h"

// No good pass for this long: the values shown are old (a Monitor pass takes about
// 200 ms, an Emulator pass about 250 ms).
inline constexpr std::chrono::milliseconds kStaleAfter{1000};
// How many past outages are kept for the tooltip.
inline constexpr std::size_t kMaxLinkEvents = 5;

class LinkHealth {
public:
    using Steady = std::chrono::steady_clock::time_point;
    using Wall = std::chrono::system_clock::time_point;

    struct Outage {
        Wall startWall;                                // the last good pass before it
        Steady start;                                  // the same on the steady clock
        std::chrono::steady_clock::duration length{};  // to the first good pass after it
    };

    // A pass of mode `mode` ended at `steady` / `wall`.
    void Pass(std::int32_t mode, bool ok, const LinkError& failure, Steady steady, Wall wall);

    // The values shown are not current: a link pass failed since the last good one,
    // or none came for kStaleAfter.
    [[nodiscard]] bool Stale(Steady now) const;
    // A link mode runs and its passes fail since the last good one.
    [[nodiscard]] bool Down() const { return down_.has_value(); }
    // Since the last good pass of a link mode, if there was one.
    [[nodiscard]] std::optional<std::chrono::steady_clock::duration> SinceGood(Steady now) const;
    // The failure of the last failed pass (stage None if none).
    [[nodiscard]] const LinkError& LastFailure() const { return lastFailure_; }
    // Outages that ended, oldest first, at most kMaxLinkEvents.
    [[nodiscard]] const std::deque<Outage>& Outages() const { return outages_; }
    // "link down 13 s at 18:03:05" (local time).
    [[nodiscard]] static std::string OutageText(const Outage& outage);

private:
    bool linkMode_ = false;           // the last pass was Monitor or Emulator
    std::optional<Steady> lastGood_;  // last good link pass
    std::optional<Outage> down_;      // the outage going on
    LinkError lastFailure_;
    std::deque<Outage> outages_;
};
