#include "ui/chart_series.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "network/evaluators.h"

namespace {

constexpr double kBreak = std::numeric_limits<double>::quiet_NaN();

}  // namespace

double ChartSeconds(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

void ChartSeries::Add(const std::vector<PassSample>& samples, const std::vector<bool>& afterGap,
                      const ModuleWeights* host) {
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const PassSample& sample = samples[n];
        std::optional<NetOutputs> predicted;
        if (host != nullptr) predicted = EvaluateInt(sample.inputs, *host);
        Add(ChartSeconds(sample.steady), sample.inputs, sample.outputs,
            n < afterGap.size() && afterGap[n], predicted);
    }
}

void ChartSeries::Add(double seconds, const NetInputs& inputs, const NetOutputs& outputs,
                      bool afterGap, const std::optional<NetOutputs>& host) {
    ChartPoint point;
    point.seconds = seconds;
    for (int k = 0; k < NET_INPUT_COUNT; ++k) point.values[k] = ClipToByte(inputs[k]);
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        point.values[NET_INPUT_COUNT + k] = ClipToByte(outputs[k]);
        point.host[k] = host ? static_cast<std::int16_t>(ClipToByte((*host)[k])) : kNoHostValue;
    }
    point.breakBefore = !points_.empty() && (afterGap || failedSinceLast_);
    if (InOutage()) {
        outages_.back().end = seconds;
        outages_.back().ongoing = false;
    }
    failedSinceLast_ = false;
    now_ = std::max(now_, seconds);
    points_.push_back(point);
    Trim();
}

void ChartSeries::AddFailure(double seconds) {
    now_ = std::max(now_, seconds);
    failedSinceLast_ = true;
    if (InOutage()) {
        outages_.back().end = now_;
    } else {
        // The values stopped with the last good pass: the band starts there.
        const double start = points_.empty() ? seconds : points_.back().seconds;
        outages_.push_back({start, now_, true});
    }
    Trim();
}

void ChartSeries::Trim() {
    const double oldest = now_ - kChartSpanSeconds;
    // One point older than the span stays, so a line runs in from the left edge.
    while (points_.size() > 1 && points_[1].seconds <= oldest) points_.pop_front();
    while (!outages_.empty() && !outages_.front().ongoing && outages_.front().end < oldest) {
        outages_.pop_front();
    }
}

void ChartSeries::Line(int k, double left, std::vector<ChartLinePoint>& into, bool host) const {
    into.clear();
    const auto value = [&](std::size_t n) -> int {
        return host ? points_[n].host[k] : points_[n].values[k];
    };
    // A host value that is missing breaks the host's line like a gap.
    const auto joined = [&](std::size_t n) {  // point n joins the one before it
        return n > 0 && !points_[n].breakBefore &&
               (!host || (value(n) != kNoHostValue && value(n - 1) != kNoHostValue));
    };
    for (std::size_t n = 0; n < points_.size(); ++n) {
        if (host && value(n) == kNoHostValue) continue;
        ChartLinePoint point{points_[n].seconds - now_, double(value(n))};
        if (point.key < left) {
            // Only the point just before the span matters, and only when the line runs
            // on from it: it becomes the line's crossing of the left edge, which stays
            // put while values stay; the passing time does not move it.
            if (n + 1 >= points_.size() || !joined(n + 1)) continue;
            const double nextKey = points_[n + 1].seconds - now_;
            if (nextKey < left) continue;
            const double next = value(n + 1);
            point.value += (next - point.value) * (left - point.key) / (nextKey - point.key);
            point.key = left;
            into.push_back(point);
            continue;
        }
        const bool joinedBefore = joined(n);
        if (!joinedBefore && !into.empty()) into.push_back({point.key, kBreak});
        // Inside a run of one value only the run's ends shape the line.
        const bool sameBefore = joinedBefore && value(n - 1) == value(n) && !into.empty();
        const bool sameAfter = n + 1 < points_.size() && joined(n + 1) && value(n + 1) == value(n);
        if (sameBefore && sameAfter) continue;
        into.push_back(point);
    }
}

const ChartPoint* ChartSeries::Nearest(double seconds) const {
    if (points_.empty()) return nullptr;
    const auto after =
        std::lower_bound(points_.begin(), points_.end(), seconds,
                         [](const ChartPoint& point, double s) { return point.seconds < s; });
    if (after == points_.end()) return &points_.back();
    if (after != points_.begin() && seconds - (after - 1)->seconds < after->seconds - seconds) {
        return &*(after - 1);
    }
    return &*after;
}

std::vector<ChartBand> ChartSeries::Bands() const {
    std::vector<ChartBand> bands;
    const std::size_t first =
        outages_.size() > kChartMaxBands ? outages_.size() - kChartMaxBands : 0;
    for (std::size_t n = first; n < outages_.size(); ++n) {
        const ChartOutage& outage = outages_[n];
        bands.push_back({std::max(outage.start - now_, -double(kChartSpanSeconds)),
                         outage.end - now_, OutageLabel(outage)});
    }
    return bands;
}

std::optional<ChartReading> ChartSeries::Reading(
    double key, double value, int first, const std::array<bool, kChartSeriesCount>& shown) const {
    const ChartPoint* nearest = Nearest(now_ + key);
    if (nearest == nullptr) return std::nullopt;
    int best = -1;
    for (int k = first; k < first + NET_INPUT_COUNT; ++k) {
        if (!shown[k]) continue;
        // The first of equally near ones.
        if (best < 0 ||
            std::abs(nearest->values[k] - value) < std::abs(nearest->values[best] - value))
            best = k;
    }
    if (best < 0) return std::nullopt;
    return ChartReading{best, nearest->values[best], nearest->seconds - now_};
}

std::vector<ChartPixel> LinePixels(const std::vector<ChartLinePoint>& line, double xScale,
                                   double yScale) {
    std::vector<ChartPixel> pixels;
    for (const ChartLinePoint& point : line) {
        const ChartPixel pixel{
            int(std::lround(point.key * xScale)),
            std::isnan(point.value) ? -1 : int(std::lround(point.value * yScale))};
        if (pixels.empty() || pixels.back() != pixel) pixels.push_back(pixel);
    }
    return pixels;
}

ChartTimeRange BoundTimeRange(ChartTimeRange range) {
    const double span = kChartSpanSeconds;
    if (range.upper - range.lower < kChartMinSpanSeconds) {
        const double centre = (range.lower + range.upper) / 2;
        range = {centre - kChartMinSpanSeconds / 2, centre + kChartMinSpanSeconds / 2};
    }
    if (range.upper - range.lower > span) range = {-span, 0};
    if (range.lower < -span) range = {-span, range.upper + (-span - range.lower)};
    if (range.upper > 0) range = {range.lower - range.upper, 0};
    return range;
}

std::string OutageLabel(const ChartOutage& outage) {
    std::string label = "link down " + std::to_string(std::lround(outage.Length())) + " s";
    if (outage.ongoing) label += "…";
    return label;
}
