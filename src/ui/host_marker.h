#pragma once
// The host's prediction drawn over an output slider ("Compare with host"): a
// marker at the value the host's integer arithmetic gives for the module's current
// inputs, tinted, with a band up to the slider's handle, when the module's value
// differs. It lies over the slider, takes no input and hides with the comparison.
//
// Thread rules: UI thread only.

#include <QWidget>
#include <optional>

class QSlider;

class CHostMarker : public QWidget {
    Q_OBJECT
public:
    explicit CHostMarker(QSlider* slider);

    // Shows `host` against the slider's own value; nullopt hides the marker.
    void SetHostValue(std::optional<int> host);
    [[nodiscard]] std::optional<int> HostValue() const { return m_host; }
    // The text of the slider's tooltip while the comparison shows:
    // "module 131, host 128 (+3)".
    [[nodiscard]] static QString ComparisonText(int module, int host);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    [[nodiscard]] int PositionOf(int value) const;

    QSlider* m_slider;
    std::optional<int> m_host;
};
