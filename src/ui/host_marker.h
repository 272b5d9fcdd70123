#pragma once
// The host's prediction drawn over an output slider ("Compare with host"): a
// marker at the value the host's integer arithmetic gives for the module's inputs,
// blue when the module agrees, grey while the inputs were moving (no verdict), and
// amber with a band up to the module's value when the module disagrees. It lies
// over the slider, takes no input and hides with the comparison.
//
// It repaints only when what it shows changes: never because its slider painted
// (the slider repaints under the marker whenever the marker paints).
//
// Thread rules: UI thread only.

#include <QWidget>
#include <optional>

class QSlider;

class CHostMarker : public QWidget {
    Q_OBJECT
public:
    enum class Verdict {
        Agrees,     // within the tolerance
        Unsettled,  // differs, but no pass with inputs held still has confirmed it
        Differs,    // differs, and the last pass with inputs held still did too
    };

    explicit CHostMarker(QSlider* slider);

    // Shows `host` against the module's value `module`; nullopt hides the marker.
    void Show(std::optional<int> host, int module, Verdict verdict);
    // The output's mismatch count, shown as a badge at the slider's foot while the
    // marker shows and the count is not 0 (it stays until the counts are cleared).
    void SetCount(int mismatches);
    [[nodiscard]] int Count() const { return m_count; }
    // The first line of the slider's tooltip while the comparison shows:
    // "module 131, host 128 (+3)".
    [[nodiscard]] static QString ComparisonText(int module, int host);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class CHostMarkerTestPeer;  // tests read what is shown and count the paints

    [[nodiscard]] int PositionOf(int value) const;

    QSlider* m_slider;
    std::optional<int> m_host;
    int m_module = 0;
    Verdict m_verdict = Verdict::Agrees;
    int m_count = 0;
    int m_paintCount = 0;
};
