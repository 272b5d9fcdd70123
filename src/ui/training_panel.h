#pragma once
// The main window's training-set controls: "Training mode", "Store training set",
// the file name box and its arrows. The panel owns the number of the training file
// that "Store training set" appends to: 0 at start, never saved.
//
// Thread rules: UI thread only.

#include <QElapsedTimer>
#include <QObject>
#include <array>
#include <cstdint>

#include "files/training_set.h"
#include "network/weights.h"

class DialogSeams;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QWidget;
class CUpDownCtrl;

class CTrainingPanel : public QObject {
    Q_OBJECT
public:
    // Takes over the template's training controls under `client` (IDC_TRAINING_MODE,
    // IDC_STORE_TRAINING_SET, IDC_TRAIN_FILE, IDC_TRAIN_SPIN) and sets them to their
    // start state. A store writes the sixteen values the sliders show; its failure is
    // told through `seams` over `owner`. All of them must outlive the panel.
    CTrainingPanel(QWidget* client, const std::array<QSlider*, NET_INPUT_COUNT>& inputs,
                   const std::array<QSlider*, NET_OUTPUT_COUNT>& outputs, DialogSeams& seams,
                   QWidget* owner);

    // "Training mode" is checked: the output sliders hold what the operator set.
    [[nodiscard]] bool Training() const;
    [[nodiscard]] std::uint16_t FileNumber() const { return m_wTrainingFileNumber; }
    // Chooses the file as the arrows would and shows its name.
    void SetFileNumber(std::uint16_t number);

signals:
    // What a store did, for the window to show: "Stored row 51 in train003.txt",
    // with the folder in `tip`.
    void notice(const QString& text, const QString& tip);

private:
    void OnTrainingMode();
    void OnStoreTrainingSet();
    void OnDeltaposSpinFile(int delta);

    std::array<QSlider*, NET_INPUT_COUNT> m_sliderIn;
    std::array<QSlider*, NET_OUTPUT_COUNT> m_sliderOut;
    DialogSeams& m_seams;
    QWidget* m_owner;
    QCheckBox* m_checkTraining;
    QPushButton* m_buttonStore;
    QLineEdit* m_editTrainFile;
    CUpDownCtrl* m_spinFile;
    std::uint16_t m_wTrainingFileNumber = 0;
    // The last store, so that a double click does not store one set twice.
    QElapsedTimer m_sinceStore;
    TrainingSet m_lastStored{};
    std::uint16_t m_lastStoredFile = 0;
    long m_lastRow = 0;
};
