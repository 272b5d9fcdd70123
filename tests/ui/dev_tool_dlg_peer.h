#pragma once
// What the main window's tests reach inside it, kept out of its public surface:
// its parts (training panel, live views, the poster the engine's reports arrive
// at, Train network...) and what its title and menu bar say.

#include "ui/dev_tool_dlg.h"

class CDevToolDlgTestPeer {
public:
    // What the menu bar's right says, whole (the label may cut it).
    static const QString& InfoText(const CDevToolDlg& dlg) { return dlg.m_infoText; }
    static CTrainingPanel& TrainingPanel(CDevToolDlg& dlg) { return *dlg.m_training; }
    static CLiveViews& LiveViews(CDevToolDlg& dlg) { return *dlg.m_live; }
    // Where the engine's reports arrive: tests hand it reports of their own.
    static EngineUpdatePoster& Poster(CDevToolDlg& dlg) { return *dlg.m_poster; }
    // "Train network...", once opened.
    static CTrainDlg* TrainDialog(const CDevToolDlg& dlg) { return dlg.m_trainDlg; }
    // The engine computes with trained weights that no file holds.
    static bool TrainedUnsaved(const CDevToolDlg& dlg) { return dlg.m_trainedUnsaved; }
};
