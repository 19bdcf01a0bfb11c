// The booster's panel as a VST2 host sees it: the platform's PanelView behind
// the AEffEditor interface, with the panel's host over the effect. Values go
// through setParameterAutomated, and every user gesture is bracketed by
// audioMasterBeginEdit and audioMasterEndEdit, which hosts use to write touch
// automation. UI thread.
#pragma once

#include "effect/PanelHost.h"
#include "gui/editor/PanelView.h"
#include "host/AEffEditor.h"

#include <memory>

class BoosterEffect;

class PanelEditor : public AEffEditor, private PanelHost {
public:
    // The EditorFactory of the plug-in: makes the editor and attaches it to
    // the effect; null where the platform has no panel.
    static AEffEditor* create(BoosterEffect* effect);
    ~PanelEditor() override;

    bool getRect(ERect** rect) override;
    bool open(void* parentWindow) override;
    void close() override;
    bool isOpen() override { return panel->isOpen(); }
    void idle() override { panel->idle(); }

    // For tests and the host tool.
    PanelView& view() { return *panel; }

private:
    explicit PanelEditor(BoosterEffect* effect);

    BoosterProcessor& processor() override;
    float parameter(int index) override;
    void beginEdit(int index) override;
    void performEdit(int index, float value) override;
    void endEdit(int index) override;

    BoosterEffect& booster;
    ERect rect{0, 0, PanelView::kHeight, PanelView::kWidth};
    std::unique_ptr<PanelView> panel; // last: it goes first, while the rest still exists
};
