#include "host/PanelEditor.h"

#include "host/BoosterEffect.h"

#include <new>

AEffEditor* PanelEditor::create(BoosterEffect* effect)
{
    auto* editor = new (std::nothrow) PanelEditor(effect);
    if (editor && !editor->panel) {
        delete editor;
        return nullptr;
    }
    if (editor)
        effect->setEditor(editor);
    return editor;
}

PanelEditor::PanelEditor(BoosterEffect* effect) : AEffEditor(effect), booster(*effect)
{
    panel = createPanelView(*this);
}

PanelEditor::~PanelEditor()
{
    // The panel detaches its display data and ends open gestures through this host.
    panel.reset();
    booster.setEditor(nullptr);
}

bool PanelEditor::getRect(ERect** target)
{
    *target = &rect;
    return true;
}

bool PanelEditor::open(void* parentWindow)
{
    return panel->open(parentWindow);
}

void PanelEditor::close()
{
    panel->close();
}

BoosterProcessor& PanelEditor::processor()
{
    return booster.processor();
}

float PanelEditor::parameter(int index)
{
    return booster.getParameter(index);
}

void PanelEditor::beginEdit(int index)
{
    booster.beginEdit(index);
}

void PanelEditor::performEdit(int index, float value)
{
    booster.setParameterAutomated(index, value);
}

void PanelEditor::endEdit(int index)
{
    booster.endEdit(index);
}
