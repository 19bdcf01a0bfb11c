// What every platform's editor shares above the pixels: where each control of
// the panel sits and which picture it shows, which parameter it follows, the
// gestures that bracket a user's edits, and the steps of the 33 ms refresh
// cycle that keep the controls and the parameters in step. Portable; talks to
// the format only through PanelHost. UI thread.
#pragma once

#include "effect/BoosterProcessor.h"
#include "effect/EditorDisplay.h"
#include "effect/PanelHost.h"
#include "gui/toolkit/DialGeometry.h"
#include "gui/toolkit/ScopeRaster.h"
#include "update/UpdateCheck.h"

#include <array>
#include <cstdint>

constexpr int kRefreshMilliseconds = 33;

// The three dials: ring 0 follows `ring0`, the selector ring `ring1` (-1: the
// dial has no selector and its ring 1 image is 0).
struct DialLayout {
    int x;
    int baseImage;
    int ring1Image;
    int ring1Segments;
    float ring1StartAngle;
    float ring1EndAngle;
    int ring1OuterRadius;
    int ring1InnerRadius;
    int ring0Parameter;
    int ring1Parameter;
};
extern const std::array<DialLayout, 3> kDialLayouts;

// The five top-bar buttons; the first three switch a parameter.
enum ButtonCommand : int {
    kCommandNone = 0,
    kCommandOversample = 1,
    kCommandEnable = 2,
    kCommandChannels = 3,
    kCommandUpdateCheck = 4,
    kCommandAbout = 5,
};
struct ButtonLayout {
    int x;
    int image;
    int command;
    int parameter; // -1: the button switches no parameter
};
extern const std::array<ButtonLayout, 5> kButtonLayouts;
constexpr int kUpdateButton = 3;
constexpr int kAboutButton = 4;

// Scopes 0 and 1 show the tube and tape stages' dots (column 0 and 1 of the
// scope ring), scope 2 the response curve.
struct ScopeLayout {
    int x;
    int image;
    int plotWidth;
    std::uint8_t fade; // 255: cleared at every commit; otherwise faded
};
extern const std::array<ScopeLayout, 3> kScopeLayouts;
constexpr int kResponseScope = 2;

struct MeterLayout {
    int y;
    int offImage;
    int onImage;
};
extern const std::array<MeterLayout, 2> kMeterLayouts;

// The parameter a button command switches, or -1.
int parameterOfCommand(int command);

// What a dial's two rings last exchanged with the host (the ring value sent
// or taken), and which of them hold a gesture open on their parameter. A ring
// whose value differs from what it exchanged was moved by the user.
struct DialLink {
    int exchanged[2] = {0, 0};
    bool editing[2] = {false, false};
};

// Brings dial `dial`'s rings and its parameters in step: a ring the user moved
// sends its value to the host (the gesture wins); otherwise the ring takes its
// parameter's value. True when the dial shows something else than it painted
// last.
bool syncDialRings(PanelHost& host, int dial, DialRing (&rings)[2], DialLink& link);

// The ring has taken a mouse press (pressTrack): a drag it starts or joins
// opens its parameter's gesture; a reset to 50 without a drag (Control with
// the left button) is sent at once as a gesture of its own.
void ringPressed(PanelHost& host, int dial, int ring, DialRing (&rings)[2], DialLink& link);
// The ring's drag has ended (endDrag): its last value goes to the host if the
// refresh has not sent it yet, then the gesture closes.
void ringReleased(PanelHost& host, int dial, int ring, DialRing (&rings)[2], DialLink& link);
// The panel closes: every gesture still open ends as a release ends it.
void endDialGestures(PanelHost& host, int dial, DialRing (&rings)[2], DialLink& link);

// A button click on a parameter: begin, the value, end.
void clickParameter(PanelHost& host, int parameter, float value);

// The frame (0 off, 1 on) that button `button` (0..2) shows for its parameter.
int buttonFrameFor(PanelHost& host, int button);

// Draws a new response curve into the raster, when the processor has one; the
// display otherwise keeps its picture. True when the caller should commit.
bool drawResponseCurve(BoosterProcessor& processor, std::array<double, kResponsePoints>& copy, ScopeRaster& raster);

// Plots scope column `column` of the ring as dots, under its lock.
void drawScopeDots(EditorDisplay& display, int column, ScopeRaster& raster);

// The meter values (0..100): input left, input right, output left, output right.
std::array<int, 4> meterValues(EditorDisplay& display);

// Who the update check asks for: the plug-in's unique ID and the version it reports.
inline UpdateIdentity boosterUpdateIdentity()
{
    return {static_cast<std::uint32_t>(kBoosterUniqueId), static_cast<std::uint32_t>(kBoosterVendorVersion)};
}

// A panel's last steps with the processor: the display data is detached, so no
// processing call enters it any more, and its locks are held while `release`
// runs (the panel closes), so none is still inside.
template <typename Release>
void detachDisplayAndRelease(BoosterProcessor& processor, EditorDisplay& display, Release release)
{
    processor.detachDisplay();
    for (CriticalSection& lock : display.ringLocks)
        lock.enter();
    display.meterLock.enter();
    release();
    for (CriticalSection& lock : display.ringLocks)
        lock.leave();
    display.meterLock.leave();
}
