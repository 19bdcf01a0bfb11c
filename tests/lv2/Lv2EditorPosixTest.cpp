// The LV2 editor through the bundle's UI descriptor, as an in-process host
// embeds it: in a host window on the test's display, reaching the plug-in
// instance that lilv made, pumped by the host's idle calls.
// GoogleTest before Xlib, whose macros (None, Bool) would rename its types.
#include "lv2/Lv2TestHost.h"
#include "support/X11HostWindow.h"

#include "format/FormatLayer.h"
#include "gui/editor/PanelView.h"
#include "gui/toolkit/SkinGeometry.h"

#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>

#include <dlfcn.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

struct HostEvent {
    enum Kind { write, touchOn, touchOff } kind;
    std::uint32_t port;
    float value;
    bool operator==(const HostEvent& other) const
    {
        return kind == other.kind && port == other.port && value == other.value;
    }
};

class Lv2Editor : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_X11_HOST_WINDOW(frame);
        ASSERT_NE(plugin.instance, nullptr);
        library = dlopen(GRINDLEMARK_LV2_BUNDLE "Grindlemark.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        const auto entry = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(library, "lv2ui_descriptor"));
        ASSERT_NE(entry, nullptr);
        descriptor = entry(0);
        ASSERT_NE(descriptor, nullptr);
        EXPECT_STREQ(descriptor->URI, kLv2EditorUri);
        EXPECT_EQ(entry(1), nullptr);
    }
    void TearDown() override
    {
        if (library)
            dlclose(library);
    }

    LV2UI_Handle instantiate(const std::vector<const LV2_Feature*>& offered, const char* pluginUri = kLv2PluginUri)
    {
        std::vector<const LV2_Feature*> list = offered;
        list.push_back(nullptr);
        return descriptor->instantiate(descriptor, pluginUri, GRINDLEMARK_LV2_BUNDLE, write, this, &widget,
                                       list.data());
    }
    // Host idle calls until the sent events have come through.
    void idle(LV2UI_Handle editor, const LV2UI_Idle_Interface& pump)
    {
        XSync(frame.display, False);
        for (int call = 0; call < 5; ++call) {
            EXPECT_EQ(pump.idle(editor), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    void drag(Window window, int x, int y, int rows)
    {
        frame.sendPointer(window, ButtonPress, x, y, Button1, 0);
        frame.sendPointer(window, MotionNotify, x, y - rows, 0, 0);
        frame.sendPointer(window, ButtonRelease, x, y - rows, Button1, 0);
    }

    static void write(LV2UI_Controller controller, std::uint32_t port, std::uint32_t size, std::uint32_t format,
                      const void* buffer)
    {
        auto& self = *static_cast<Lv2Editor*>(const_cast<void*>(controller));
        ASSERT_EQ(size, sizeof(float));
        ASSERT_EQ(format, 0u);
        float value = 0.0f;
        std::memcpy(&value, buffer, sizeof value);
        self.events.push_back({HostEvent::write, port, value});
    }
    static void touch(LV2UI_Feature_Handle handle, std::uint32_t port, bool grabbed)
    {
        static_cast<Lv2Editor*>(handle)->events.push_back(
            {grabbed ? HostEvent::touchOn : HostEvent::touchOff, port, 0.0f});
    }
    static int resize(LV2UI_Feature_Handle handle, int width, int height)
    {
        static_cast<Lv2Editor*>(handle)->resized = {width, height};
        return 0;
    }

    X11HostWindow frame;
    Lv2Bundle bundle;
    Lv2TestInstance plugin{bundle, 44100.0, 256};
    void* library = nullptr;
    const LV2UI_Descriptor* descriptor = nullptr;
    LV2UI_Widget widget = nullptr;
    std::vector<HostEvent> events;
    std::pair<int, int> resized{0, 0};
    LV2UI_Touch touchInterface{this, touch};
    LV2UI_Resize resizeInterface{this, resize};
};

TEST_F(Lv2Editor, OpensWithItsFeaturesWritesPortsInsideTouchAndFollowsPortEvents)
{
    const LV2_Feature parent{LV2_UI__parent, frame.handle()};
    const LV2_Feature instance{LV2_INSTANCE_ACCESS_URI, plugin.handle()};
    const LV2_Feature idleCalls{LV2_UI__idleInterface, nullptr};
    const LV2_Feature touching{LV2_UI__touch, &touchInterface};
    const LV2_Feature resizing{LV2_UI__resize, &resizeInterface};

    // Without any one of what it needs, or for another plug-in, it declines
    // and leaves no window behind.
    EXPECT_EQ(instantiate({&instance, &idleCalls}), nullptr);
    EXPECT_EQ(instantiate({&parent, &idleCalls}), nullptr);
    EXPECT_EQ(instantiate({&parent, &instance}), nullptr);
    EXPECT_EQ(instantiate({&parent, &instance, &idleCalls}, "urn:example:other"), nullptr);
    EXPECT_TRUE(frame.children().empty());

    plugin.activate();
    plugin.run(256);
    LV2UI_Handle editor = instantiate({&parent, &instance, &idleCalls, &touching, &resizing});
    ASSERT_NE(editor, nullptr);
    const auto* pump = static_cast<const LV2UI_Idle_Interface*>(descriptor->extension_data(LV2_UI__idleInterface));
    ASSERT_NE(pump, nullptr);
    const auto window = static_cast<Window>(reinterpret_cast<std::uintptr_t>(widget));
    EXPECT_EQ(frame.children(), std::vector<Window>{window});
    EXPECT_EQ(resized, std::make_pair(PanelView::kWidth, PanelView::kHeight));

    // Drive starts at program 0's 10 dB; 20 rows up is ten units more: 12 dB,
    // written in display units between touch on and off.
    idle(editor, *pump);
    events.clear();
    drag(window, skin::kDialDriveX + 40, skin::kDialY + 46, 20);
    idle(editor, *pump);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), (HostEvent{HostEvent::touchOn, kDrive, 0.0f}));
    EXPECT_EQ(events.back(), (HostEvent{HostEvent::touchOff, kDrive, 0.0f}));
    EXPECT_EQ(events[events.size() - 2],
              (HostEvent{HostEvent::write, kDrive, static_cast<float>(displayUnitsOf(kDrive, 60 * 0.01f))}));

    // The host moves Level to its top (24 dB); a drag down by ten units then starts there.
    const float top = 24.0f;
    descriptor->port_event(editor, kLevel, sizeof top, 0, &top);
    idle(editor, *pump);
    events.clear();
    drag(window, skin::kDialLevelX + 40, skin::kDialY + 46, -20);
    idle(editor, *pump);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[events.size() - 2],
              (HostEvent{HostEvent::write, kLevel, static_cast<float>(displayUnitsOf(kLevel, 90 * 0.01f))}));

    descriptor->cleanup(editor);
    XSync(frame.display, False);
    EXPECT_TRUE(frame.children().empty());
}

} // namespace
