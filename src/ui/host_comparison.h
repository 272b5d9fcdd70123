#pragma once
// "Compare with host": beside each output slider, the value the host's integer
// arithmetic predicts for the module's inputs (CHostMarker), and counts that stay
// until cleared: per output, the passes whose module value differed from the host's
// by more than the tolerance.
//
// The module reads its inputs at "I" and answers "O" a pause later, and inputs that
// move in between give outputs of other inputs. The window cannot see between "I"
// and "O", so it judges a Monitor pass by the readings of the passes before and
// after it too, with validate's rule (JudgePass, network/pass_verdict.h): jitter is
// judged, and a pass whose inputs moved too far to say is counted apart as "inputs
// moved", never as a mismatch.
//
// A value that is not current is never judged: a pass is judged only between
// neighbours that came without a failure and within kStaleAfter of each other, and
// the markers give no verdict on the values of a link that stopped (they show grey).
// Each output's mismatch count stays as a badge at its slider's foot until cleared.
//
// Thread rules: UI thread only.

#include <QObject>
#include <array>
#include <optional>
#include <vector>

#include "engine/engine.h"
#include "network/pass_values.h"
#include "ui/host_marker.h"

class CTrackBar;

class CHostComparison : public QObject {
    Q_OBJECT
public:
    struct Counts {
        std::array<int, NET_OUTPUT_COUNT> mismatches{};  // judged passes that differed, per output
        int judged = 0;                                  // passes with inputs held still
        int inputsMoved = 0;                             // passes not judged
    };

    // Puts a marker over each of `outputs` (which must outlive this object).
    CHostComparison(const std::array<CTrackBar*, NET_OUTPUT_COUNT>& outputs, QObject* parent);

    // A difference of up to `lsb` counts as agreement (as validate --tolerance).
    void SetTolerance(int lsb);
    [[nodiscard]] int Tolerance() const { return m_tolerance; }

    // Counts the passes (oldest first) against `weights`. Passes of other modes, a
    // pass marked in `afterGap` (a failed pass came before it) and Forget break the
    // run of passes that verdicts need.
    void Count(const std::vector<PassSample>& passes, const std::vector<bool>& afterGap,
               const ModuleWeights& weights);
    // The passes seen so far no longer neighbour the next ones (comparison off, a
    // failed pass, a new net file).
    void Forget();
    void ClearCounts();
    [[nodiscard]] const Counts& GetCounts() const { return m_counts; }

    // Shows the markers and the tooltips for `report`, or hides them (`on` false),
    // giving the sliders their plain value tooltips back. `stale`: the report's
    // values are not current, so no verdict is given on them.
    void Show(bool on, const PassReport& report, const ModuleWeights& weights, bool stale = false);
    // One line for the window: "Compare: 78 mismatches in 328 passes, out3".
    [[nodiscard]] QString Summary() const;

    [[nodiscard]] CHostMarker* Marker(int k) const { return m_marker[k]; }

signals:
    void countsChanged();

private:
    void Judge(const PassSample& before, const PassSample& pass, const PassSample& after,
               const ModuleWeights& weights);
    [[nodiscard]] QString ToolTip(int k, int module, int host) const;

    std::array<CTrackBar*, NET_OUTPUT_COUNT> m_sliderOut;
    std::array<CHostMarker*, NET_OUTPUT_COUNT> m_marker{};
    int m_tolerance = 0;
    Counts m_counts;
    // The last judged pass of each output differed: the marker may show amber.
    std::array<bool, NET_OUTPUT_COUNT> m_lastJudgedDiffers{};
    // The two newest Monitor passes: the one before the pending one, and the pending.
    std::optional<PassSample> m_before;
    std::optional<PassSample> m_pending;
    bool m_shown = false;
};
