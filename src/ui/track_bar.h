#pragma once
// A vertical slider that behaves like the classic vertical trackbar: Home goes to the
// top (the maximum), End to the bottom (the minimum). It tells its value in a tooltip,
// on hover and while being dragged, and shows a focus frame once the keyboard is in
// use. UI thread only.

#include <QSlider>

class CTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit CTrackBar(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void OnValueChanged(int value);
    void OnSliderMoved(int value);
};
