#pragma once
// What the live chart shows, without the widget that draws it: the values of the
// last minute of passes, where they break off, and the outages between them.
//
// A line is never drawn across passes that failed or did not come: a pass that
// follows a gap (a failed pass, a pass without values, a change of mode) starts a
// new piece of line, and a stretch of failed passes is an outage, a band on the
// chart with its length ("link down 13 s"). Time runs on while passes fail, so the
// chart's right edge is "now" (the newest pass, good or failed), and values that
// stopped coming drift to the left instead of looking current.
//
// Qt-free and widget-free, so tests check it directly.
//
// Thread rules: one thread (the window's UI thread).

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "network/pass_values.h"
#include "network/weights.h"

// How far back the chart reaches.
inline constexpr int kChartSpanSeconds = 60;
// Inputs then outputs.
inline constexpr int kChartSeriesCount = NET_INPUT_COUNT + NET_OUTPUT_COUNT;
// Marks a host value that is not there (Compare off, or no net).
inline constexpr std::int16_t kNoHostValue = -1;

struct ChartPoint {
    double seconds = 0;                                     // on the steady clock
    std::array<std::uint16_t, kChartSeriesCount> values{};  // clipped to 0..255
    // The host's prediction of each output for this pass's inputs, or kNoHostValue.
    std::array<std::int16_t, NET_OUTPUT_COUNT> host{};
    bool breakBefore = false;  // not joined to the point before it
};

struct ChartOutage {
    double start = 0;      // the last good pass before it (or the first failure)
    double end = 0;        // the first good pass after it, or now while it lasts
    bool ongoing = false;  // no good pass since
    [[nodiscard]] double Length() const { return end - start; }
};

// One point of a drawn line: seconds before the right edge, and the value. A value
// of NaN breaks the line there.
struct ChartLinePoint {
    double key = 0;
    double value = 0;
};

class ChartSeries {
public:
    // A pass with values at `seconds`. `afterGap`: something without values came
    // before it, so it is not joined to the point before. `host`: the host's
    // prediction of the outputs, when compared.
    void Add(double seconds, const NetInputs& inputs, const NetOutputs& outputs, bool afterGap,
             const std::optional<NetOutputs>& host = std::nullopt);
    // A pass that failed at `seconds`: the line breaks, an outage starts (or goes
    // on), and the right edge moves on to it.
    void AddFailure(double seconds);

    // The right edge: the newest pass, good or failed.
    [[nodiscard]] double Now() const { return now_; }
    [[nodiscard]] bool Empty() const { return points_.empty(); }
    [[nodiscard]] const std::deque<ChartPoint>& Points() const { return points_; }
    // Outages that reach into the span, oldest first.
    [[nodiscard]] const std::deque<ChartOutage>& Outages() const { return outages_; }
    [[nodiscard]] bool InOutage() const { return !outages_.empty() && outages_.back().ongoing; }

    // Series `k`'s line against seconds before Now(), from `left` (negative) on:
    // the run of one value shaped by its ends only, the point before `left` moved
    // onto it, and a NaN point wherever the line breaks. `host`: the host's line of
    // output k (0..7) instead.
    void Line(int k, double left, std::vector<ChartLinePoint>& into, bool host = false) const;
    // The point nearest `seconds` (on the steady clock), or none when empty.
    [[nodiscard]] const ChartPoint* Nearest(double seconds) const;

private:
    void Trim();

    std::deque<ChartPoint> points_;  // oldest first, the span and one more
    std::deque<ChartOutage> outages_;
    double now_ = 0;
    bool failedSinceLast_ = false;  // a failure came since the last point
};
