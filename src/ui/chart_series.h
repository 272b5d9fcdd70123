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
// Beside the data, what a frame makes of it short of drawing: the bands with their
// labels, the lines in pixels (to tell whether a frame would move anything), the
// bounds of a zoom or a drag, and the value read out under the mouse.
//
// Qt-free and widget-free, so tests check it directly.
//
// Thread rules: one thread (the window's UI thread).

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "network/pass_values.h"
#include "network/weights.h"

// How far back the chart reaches.
inline constexpr int kChartSpanSeconds = 60;
// Inputs then outputs.
inline constexpr int kChartSeriesCount = NET_INPUT_COUNT + NET_OUTPUT_COUNT;
// Marks a host value that is not there (Compare off, or no net).
inline constexpr std::int16_t kNoHostValue = -1;
// How many outages the chart marks at most; more in one minute is one long fault.
inline constexpr std::size_t kChartMaxBands = 8;
// The narrowest time span a zoom reaches; below it a pass is wider than the plot.
inline constexpr double kChartMinSpanSeconds = 0.5;

// A time on the steady clock as the chart's seconds.
[[nodiscard]] double ChartSeconds(std::chrono::steady_clock::time_point t);

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

// An outage as drawn: its ends in seconds before the right edge (the start no
// further left than the span) and its label ("link down 13 s", with "…" while it
// lasts).
struct ChartBand {
    double start = 0;
    double end = 0;
    std::string label;
    bool operator==(const ChartBand&) const = default;
};

// The value read out under the mouse: series `series` (0..15) shows `value` at
// the pass `key` seconds before the right edge.
struct ChartReading {
    int series = 0;
    int value = 0;
    double key = 0;
    bool operator==(const ChartReading&) const = default;
};

// A drawn line point in pixels of a plot; a break has y -1.
struct ChartPixel {
    int x = 0;
    int y = 0;
    bool operator==(const ChartPixel&) const = default;
};

// A stretch of the time axis, in seconds before the right edge.
struct ChartTimeRange {
    double lower = 0;
    double upper = 0;
    bool operator==(const ChartTimeRange&) const = default;
};

class ChartSeries {
public:
    // A pass with values at `seconds`. `afterGap`: something without values came
    // before it, so it is not joined to the point before. `host`: the host's
    // prediction of the outputs, when compared.
    void Add(double seconds, const NetInputs& inputs, const NetOutputs& outputs, bool afterGap,
             const std::optional<NetOutputs>& host = std::nullopt);
    // The passes of `samples` (oldest first). `afterGap` (beside `samples`, or
    // shorter): a sample not joined to the one before. `host`: the weights the
    // host predicts the outputs with (Compare on), or null.
    void Add(const std::vector<PassSample>& samples, const std::vector<bool>& afterGap,
             const ModuleWeights* host);
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
    // The newest kChartMaxBands outages as bands, oldest first.
    [[nodiscard]] std::vector<ChartBand> Bands() const;
    // At the pass nearest `key` (seconds before Now()), of the eight series from
    // `first` (0: inputs, NET_INPUT_COUNT: outputs) that are `shown`, the one
    // nearest `value`; none when empty or none of them is shown.
    [[nodiscard]] std::optional<ChartReading> Reading(
        double key, double value, int first,
        const std::array<bool, kChartSeriesCount>& shown) const;

private:
    void Trim();

    std::deque<ChartPoint> points_;  // oldest first, the span and one more
    std::deque<ChartOutage> outages_;
    double now_ = 0;
    bool failedSinceLast_ = false;  // a failure came since the last point
};

// `line` in pixels at `xScale` pixels a second and `yScale` a value step, without
// points that fall on the pixel before: what a frame compares to tell a line that
// moved from one that only moved within its pixels. A break stays a pixel of its
// own kind, so moving one counts as a change.
[[nodiscard]] std::vector<ChartPixel> LinePixels(const std::vector<ChartLinePoint>& line,
                                                 double xScale, double yScale);

// The time axis a drag or a zoom asks for, kept within the span kept and no
// narrower than kChartMinSpanSeconds.
[[nodiscard]] ChartTimeRange BoundTimeRange(ChartTimeRange range);

// The text of an outage's band: "link down 13 s", with "…" while it lasts.
[[nodiscard]] std::string OutageLabel(const ChartOutage& outage);
