#include "ToolkitHarnessWin32.h"
#include "gui/toolkit/CLedButton.h"
#include "gui/toolkit/CLedDial.h"
#include "gui/toolkit/CScopeXY.h"
#include "gui/toolkit/CSlider.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace toolkit_test;

namespace {

// One control of each kind on a panel window of its own, like an editor's.
struct ControlSet {
    ControlSet(HBITMAP panel, HWND parent) : host(panel, parent)
    {
        button.create(testModule(), host.window, skin::kButtonPowerX, panel, skin::kImageButtonPower, 2);
        dial.create(testModule(), host.window, panel, skin::kImageDialLevel, 0, 1, 0.0f, 0.0f, 0, 0, skin::kDialLevelX);
        scope.create(testModule(), host.window, panel, skin::kImageScopeTape, skin::kScopeTapeX,
                     skin::kScopeSquarePlotWidth, 15);
        meter.create(testModule(), host.window, panel, skin::kMeterOutputY, skin::kImageMeterOutputOff,
                     skin::kImageMeterOutputOn);
    }
    void destroyWindows()
    {
        button.destroyWindow();
        dial.destroyWindow();
        scope.destroyWindow();
        meter.destroyWindow();
    }
    bool allOpen() const { return button.getWindow() && dial.getWindow() && scope.getWindow() && meter.getWindow(); }

    HostWindow host;
    CLedButton button;
    CLedDial dial;
    CScopeXY scope;
    CSlider meter;
};

bool classRegistered(const char* name)
{
    WNDCLASSEXA description = {};
    description.cbSize = sizeof description;
    return GetClassInfoExA(testModule(), name, &description) != 0;
}

std::string moduleFileName()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full = path;
    return full.substr(full.find_last_of('\\') + 1);
}

class ControlClassesTest : public ToolkitWindowTest {};

} // namespace

TEST_F(ControlClassesTest, ClassesAreNamedAfterTheModule)
{
    ControlSet set(panel, host->window);
    ASSERT_TRUE(set.allOpen());
    const std::string file = moduleFileName();
    EXPECT_EQ(set.button.getClassName(), file + "CLedButtonWindowClass");
    EXPECT_EQ(set.dial.getClassName(), file + "CLedDialWindowClass");
    EXPECT_EQ(set.scope.getClassName(), file + "CScopeXYWindowClass");
    EXPECT_EQ(set.meter.getClassName(), file + "COVKSliderClass");
    char windowClass[128] = {};
    GetClassNameA(set.dial.getWindow(), windowClass, sizeof windowClass);
    EXPECT_EQ(file + "CLedDialWindowClass", windowClass);
}

// Two editors' worth of controls share the classes; a class goes away only
// with the last window of its kind, and comes back with the next one.
TEST_F(ControlClassesTest, TwoSetsShareClassesUntilTheLastWindow)
{
    auto first = std::make_unique<ControlSet>(panel, host->window);
    auto second = std::make_unique<ControlSet>(panel, host->window);
    ASSERT_TRUE(first->allOpen());
    ASSERT_TRUE(second->allOpen());
    const std::string names[] = {first->button.getClassName(), first->dial.getClassName(), first->scope.getClassName(),
                                 first->meter.getClassName()};
    for (const std::string& name : names) {
        EXPECT_TRUE(classRegistered(name.c_str())) << name;
    }

    first->destroyWindows();
    for (const std::string& name : names) {
        EXPECT_TRUE(classRegistered(name.c_str())) << name;
    }
    // The second set still works.
    SendMessageA(second->button.getWindow(), WM_LBUTTONDOWN, MK_LBUTTON, mouseAt(5, 5));
    SendMessageA(second->button.getWindow(), WM_LBUTTONUP, 0, mouseAt(5, 5));
    EXPECT_EQ(second->button.getState(), 1);
    second->scope.plotDot(0.0f, 0.0f);
    second->scope.commitFrame();

    second->destroyWindows();
    for (const std::string& name : names) {
        EXPECT_FALSE(classRegistered(name.c_str())) << name;
    }

    // Opening again registers afresh; the object's destructor takes the window.
    first->dial.create(testModule(), first->host.window, panel, skin::kImageDialLevel, 0, 1, 0.0f, 0.0f, 0, 0,
                       skin::kDialLevelX);
    ASSERT_NE(first->dial.getWindow(), nullptr);
    EXPECT_TRUE(classRegistered(names[1].c_str()));
    first.reset();
    EXPECT_FALSE(classRegistered(names[1].c_str()));
}

// A picture that cannot be loaded leaves that control without a window; it
// takes every call quietly and the others work as usual.
TEST_F(ControlClassesTest, MissingImagesLeaveTheControlWithoutWindow)
{
    const int missing = 9999;
    CLedButton button;
    button.create(testModule(), host->window, skin::kButtonPowerX, panel, missing, 2);
    CLedDial dial;
    dial.create(testModule(), host->window, panel, missing, skin::kImageDialLeds, 6, skin::kCharacterStartAngle,
                skin::kCharacterEndAngle, 81, 63, skin::kDialCharacterX);
    CScopeXY scope;
    scope.create(testModule(), host->window, panel, missing, skin::kScopeTubeX, 80, 15);
    CSlider meterWithoutOn;
    meterWithoutOn.create(testModule(), host->window, panel, skin::kMeterInputY, skin::kImageMeterInputOff, missing);
    EXPECT_EQ(button.getWindow(), nullptr);
    EXPECT_EQ(dial.getWindow(), nullptr);
    EXPECT_EQ(scope.getWindow(), nullptr);
    EXPECT_EQ(meterWithoutOn.getWindow(), nullptr);
    EXPECT_EQ(button.getWidth(), 0);
    EXPECT_EQ(scope.getWidth(), 0);

    button.setState(1);
    EXPECT_EQ(button.getState(), 1);
    scope.plotDot(0.0f, 0.0f);
    scope.plotCurvePoint(0.0f, 0.0f);
    scope.commitFrame();
    EXPECT_FALSE(scope.getRaster().hasPixels());
    button.destroyWindow();
    scope.destroyWindow();

    CSlider meter;
    meter.create(testModule(), host->window, panel, skin::kMeterOutputY, skin::kImageMeterOutputOff,
                 skin::kImageMeterOutputOn);
    EXPECT_NE(meter.getWindow(), nullptr);
    CLedButton working;
    working.create(testModule(), host->window, skin::kButtonInfoX, panel, skin::kImageButtonInfo, 5);
    EXPECT_NE(working.getWindow(), nullptr);
}
