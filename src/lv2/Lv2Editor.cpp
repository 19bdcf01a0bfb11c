// The booster's own panel as an LV2 X11 UI in the plug-in's binary. It needs
// the plug-in instance (instance access: the scopes, meters and response curve
// are read from the processor directly), the host's parent window and the
// host's idle calls as its pump. Its controls write the control ports through
// the host, bracketed by touch where the host offers it.
#include "effect/PanelHost.h"
#include "format/FormatLayer.h"
#include "gui/editor/PanelView.h"
#include "lv2/Lv2Plugin.h"

#include <lv2/core/lv2.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

class Lv2Editor final : public PanelHost {
public:
    Lv2Editor(Lv2Plugin& plugin, LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Touch* touch)
        : plugin(plugin), write(write), controller(controller), touch(touch)
    {
        for (const FormatParameter& facts : formatParameters())
            shown[static_cast<std::size_t>(facts.id)] = facts.defaultValue;
    }

    BoosterProcessor& processor() override { return plugin.processor(); }
    float parameter(int index) override { return index >= 0 && index < kNumParameters ? shown[index] : 0.0f; }

    void beginEdit(int index) override
    {
        if (touch && touch->touch && index >= 0 && index < kNumParameters)
            touch->touch(touch->handle, static_cast<std::uint32_t>(index), true);
    }
    void performEdit(int index, float value) override
    {
        if (index < 0 || index >= kNumParameters)
            return;
        shown[index] = limitParameterValue(value);
        const float portValue = static_cast<float>(displayUnitsOf(index, shown[index]));
        write(controller, static_cast<std::uint32_t>(index), sizeof(float), 0, &portValue);
    }
    void endEdit(int index) override
    {
        if (touch && touch->touch && index >= 0 && index < kNumParameters)
            touch->touch(touch->handle, static_cast<std::uint32_t>(index), false);
    }

    // A control port's value as the host reports it (format 0: one float).
    void portEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* buffer)
    {
        if (port >= kNumParameters || format != 0 || size != sizeof(float) || !buffer)
            return;
        float portValue = 0.0f;
        std::memcpy(&portValue, buffer, sizeof portValue);
        float value = 0.0f;
        if (Lv2Plugin::portValueToParameter(static_cast<int>(port), portValue, value))
            shown[port] = value;
    }

    std::unique_ptr<PanelView> view;

private:
    Lv2Plugin& plugin;
    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    const LV2UI_Touch* touch;
    float shown[kNumParameters] = {};
};

const void* featureData(const LV2_Feature* const* features, const char* uri, bool& present)
{
    present = false;
    for (auto feature = features; feature && *feature; ++feature) {
        if (!std::strcmp((*feature)->URI, uri)) {
            present = true;
            return (*feature)->data;
        }
    }
    return nullptr;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features)
{
    if (!pluginUri || std::strcmp(pluginUri, kLv2PluginUri) != 0 || !write || !widget)
        return nullptr;
    bool present = false;
    void* parent = const_cast<void*>(featureData(features, LV2_UI__parent, present));
    auto* instance =
        static_cast<Lv2Plugin*>(const_cast<void*>(featureData(features, LV2_INSTANCE_ACCESS_URI, present)));
    featureData(features, LV2_UI__idleInterface, present);
    const bool idleOffered = present;
    const auto* touch = static_cast<const LV2UI_Touch*>(featureData(features, LV2_UI__touch, present));
    const auto* resize = static_cast<const LV2UI_Resize*>(featureData(features, LV2_UI__resize, present));
    if (!parent || !instance || !idleOffered)
        return nullptr;
    try {
        auto editor = std::make_unique<Lv2Editor>(*instance, write, controller, touch);
        editor->view = createPanelView(*editor);
        if (!editor->view || !editor->view->open(parent))
            return nullptr;
        *widget = reinterpret_cast<LV2UI_Widget>(editor->view->nativeWindow());
        if (resize && resize->ui_resize)
            resize->ui_resize(resize->handle, PanelView::kWidth, PanelView::kHeight);
        return editor.release();
    } catch (...) {
        return nullptr;
    }
}

void cleanup(LV2UI_Handle handle)
{
    auto* editor = static_cast<Lv2Editor*>(handle);
    editor->view->close();
    delete editor;
}

void portEvent(LV2UI_Handle handle, std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* buffer)
{
    static_cast<Lv2Editor*>(handle)->portEvent(port, size, format, buffer);
}

// Non-zero tells the host the panel is gone.
int idle(LV2UI_Handle handle)
{
    PanelView& view = *static_cast<Lv2Editor*>(handle)->view;
    if (!view.isOpen())
        return 1;
    view.idle();
    return 0;
}

const LV2UI_Idle_Interface idleInterface = {idle};

const void* extensionData(const char* uri)
{
    return uri && !std::strcmp(uri, LV2_UI__idleInterface) ? &idleInterface : nullptr;
}

const LV2UI_Descriptor descriptor = {kLv2EditorUri, instantiate, cleanup, portEvent, extensionData};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(std::uint32_t index)
{
    return index == 0 ? &descriptor : nullptr;
}
