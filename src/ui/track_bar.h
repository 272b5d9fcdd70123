#pragma once
// A vertical slider that behaves like the classic vertical trackbar: Home goes to the
// top (the maximum), End to the bottom (the minimum). It tells its value in a tooltip,
// on hover and while being dragged, and shows a focus frame once the keyboard is in
// use. The tooltip follows every change of the value, also one made by a program
// with signals blocked, and also while the tooltip is open. UI thread only.

#include <QSlider>

class CTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit CTrackBar(QWidget* parent = nullptr);

    // A text to show instead of the bare value (e.g. a comparison that names the
    // value); empty gives the value back.
    void SetToolTipText(const QString& text);
    // The value shown is the last one known, not a current one: the slider is
    // hatched over until it is current again.
    void SetStale(bool stale);
    [[nodiscard]] bool Stale() const { return m_stale; }

protected:
    void sliderChange(SliderChange change) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Sets the tooltip from the value or the text, and renews it when it is open.
    void RefreshToolTip();
    void OnSliderMoved(int value);

    QString m_text;
    bool m_stale = false;
};
