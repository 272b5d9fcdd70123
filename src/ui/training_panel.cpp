#include "ui/training_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "files/training_set.h"
#include "ui/dialog_seams.h"
#include "ui/dialog_template.h"
#include "ui/up_down_ctrl.h"

CTrainingPanel::CTrainingPanel(QWidget* client, const std::array<QSlider*, NET_INPUT_COUNT>& inputs,
                               const std::array<QSlider*, NET_OUTPUT_COUNT>& outputs,
                               DialogSeams& seams, QWidget* owner)
    : QObject(owner),
      m_sliderIn(inputs),
      m_sliderOut(outputs),
      m_seams(seams),
      m_owner(owner),
      m_checkTraining(TemplateControl<QCheckBox>(client, "IDC_TRAINING_MODE")),
      m_buttonStore(TemplateControl<QPushButton>(client, "IDC_STORE_TRAINING_SET")),
      m_editTrainFile(TemplateControl<QLineEdit>(client, "IDC_TRAIN_FILE")),
      m_spinFile(TemplateControl<CUpDownCtrl>(client, "IDC_TRAIN_SPIN")) {
    setObjectName(QStringLiteral("training"));
    m_checkTraining->setChecked(false);
    SetFileNumber(0);
    m_buttonStore->setEnabled(false);
    // Only the arrows change the name.
    m_editTrainFile->setEnabled(false);
    connect(m_checkTraining, &QCheckBox::toggled, this, &CTrainingPanel::OnTrainingMode);
    connect(m_buttonStore, &QPushButton::clicked, this, &CTrainingPanel::OnStoreTrainingSet);
    connect(m_spinFile, &CUpDownCtrl::deltaPos, this, &CTrainingPanel::OnDeltaposSpinFile);
}

bool CTrainingPanel::Training() const {
    return m_checkTraining->isChecked();
}

void CTrainingPanel::SetFileNumber(std::uint16_t number) {
    m_wTrainingFileNumber = number;
    m_editTrainFile->setText(QString::fromStdString(TrainingFileName(number)));
}

void CTrainingPanel::OnTrainingMode() {
    const bool training = Training();
    for (QSlider* slider : m_sliderOut) slider->setEnabled(training);
    m_buttonStore->setEnabled(training);
}

void CTrainingPanel::OnStoreTrainingSet() {
    TrainingSet values{};
    for (int k = 0; k < NET_INPUT_COUNT; ++k) values[k] = m_sliderIn[k]->value();
    for (int k = 0; k < NET_OUTPUT_COUNT; ++k) {
        values[NET_INPUT_COUNT + k] = m_sliderOut[k]->value();
    }
    const std::string name = TrainingFileName(m_wTrainingFileNumber);
    const QString file = QString::fromStdString(name);
    const QString folder = QDir::currentPath();
    const FileResult result = AppendTrainingSet(name, values);
    if (result != FileResult::Ok) {
        m_seams.ShowMessage(m_owner, QString::fromLatin1(TrainingFileResultText(result)));
        return;
    }
    // Every click stores, as it always has; a second click on the same set (a double
    // click) is not silent: the notice says that the row repeats the one before.
    const bool again = m_sinceStore.isValid() &&
                       !m_sinceStore.hasExpired(QApplication::doubleClickInterval()) &&
                       values == m_lastStored && m_wTrainingFileNumber == m_lastStoredFile;
    const long previous = m_lastRow;
    m_sinceStore.start();
    m_lastStored = values;
    m_lastStoredFile = m_wTrainingFileNumber;
    m_lastRow = CountTrainingRows(name);
    QString text = QStringLiteral("Stored row %1 in %2").arg(m_lastRow).arg(file);
    if (again)
        text += QStringLiteral(" (the same values as row %1: a double click?)").arg(previous);
    emit notice(text, QStringLiteral("Folder: %1").arg(folder));
}

void CTrainingPanel::OnDeltaposSpinFile(int delta) {
    // Up selects the next file, down the previous one; a step of any size moves by
    // one. The arrows choose a file and nothing else: they never touch the inputs.
    SetFileNumber(delta > 0 ? NextTrainingFileNumber(m_wTrainingFileNumber)
                            : PreviousTrainingFileNumber(m_wTrainingFileNumber));
}
