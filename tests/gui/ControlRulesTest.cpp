#include "gui/toolkit/ValueDrag.h"
#include "gui/toolkit/WindowClassName.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// With Shift only multiples of ten are taken: other positions, beyond the
// range included, leave the value alone; a multiple of ten beyond the range
// is limited to it.
TEST(ValueDrag, ShiftTakesOnlyMultiplesOfTen)
{
    int value = 33;
    int anchor = kNotDragging;
    startDrag(anchor, value, kNotDragging, 50, 1); // anchor 25 + 33 = 58
    followDrag(value, anchor, 48, 1, true);        // 34: ignored
    EXPECT_EQ(value, 33);
    followDrag(value, anchor, 36, 1, true); // 40
    EXPECT_EQ(value, 40);
    followDrag(value, anchor, 30, 1, true); // 43: ignored
    EXPECT_EQ(value, 40);
    followDrag(value, anchor, 100, 1, true); // 8: ignored
    EXPECT_EQ(value, 40);
    followDrag(value, anchor, 116, 1, true); // 0
    EXPECT_EQ(value, 0);
    followDrag(value, anchor, 134, 1, true); // -9: ignored
    EXPECT_EQ(value, 0);
    followDrag(value, anchor, -100, 1, true); // 108: ignored, not clamped
    EXPECT_EQ(value, 0);
    followDrag(value, anchor, -104, 1, true); // 110: limited to 100
    EXPECT_EQ(value, 100);
}

TEST(WindowClassName, FileNameFollowedBySuffix)
{
    char name[kClassNameSize];
    buildWindowClassName("C:\\Program Files\\VST\\Grindlemark.dll", "CLedDialWindowClass", name);
    EXPECT_STREQ(name, "Grindlemark.dllCLedDialWindowClass");
    buildWindowClassName("Grindlemark.dll", "COVKSliderClass", name);
    EXPECT_STREQ(name, "COVKSliderClass"); // no folder, no file name part
    buildWindowClassName("", "CScopeXYWindowClass", name);
    EXPECT_STREQ(name, "CScopeXYWindowClass");
}

// A name that does not fit keeps the whole suffix, so the classes of the
// four controls stay distinct.
TEST(WindowClassName, LongFileNamesKeepTheSuffix)
{
    const std::string longFile = std::string(200, 'x') + "Grindlemark.dll";
    const std::string path = "C:\\plugins\\" + longFile;
    char name[kClassNameSize];
    buildWindowClassName(path.c_str(), "CLedButtonWindowClass", name);
    const std::string result = name;
    EXPECT_EQ(result.size(), kClassNameSize - 1);
    EXPECT_EQ(result.substr(result.size() - std::strlen("CLedButtonWindowClass")), "CLedButtonWindowClass");
    EXPECT_NE(result.find("Grindlemark.dll"), std::string::npos);
}
