// What every platform's editor shares above the pixels: where each control of
// the panel sits and which picture it shows, which parameter it follows, and
// the steps of the 33 ms refresh cycle that keep the controls and the
// parameters in step. Portable; UI thread.
#pragma once

#include "effect/EditorDisplay.h"
#include "gui/toolkit/DialGeometry.h"
#include "gui/toolkit/ScopeRaster.h"
#include "host/BoosterEffect.h"
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

// Brings dial `dial`'s rings and its parameters in step: a ring the user moved
// since its last paint sends its value to the host (the gesture wins);
// otherwise the ring takes its parameter's value. True when the dial shows
// something else than it painted last.
bool syncDialRings(BoosterEffect& effect, int dial, DialRing (&rings)[2]);

// The frame (0 off, 1 on) that button `button` (0..2) shows for its parameter.
int buttonFrameFor(BoosterEffect& effect, int button);

// Draws a new response curve into the raster, when the effect has one; the
// display otherwise keeps its picture. True when the caller should commit.
bool drawResponseCurve(BoosterEffect& effect, std::array<double, kResponsePoints>& copy, ScopeRaster& raster);

// Plots scope column `column` of the ring as dots, under its lock.
void drawScopeDots(EditorDisplay& display, int column, ScopeRaster& raster);

// The meter values (0..100): input left, input right, output left, output right.
std::array<int, 4> meterValues(EditorDisplay& display);

// Who the update check asks for: the effect's unique ID and the version it reports.
inline UpdateIdentity updateIdentityOf(BoosterEffect& effect)
{
    return {static_cast<std::uint32_t>(effect.getAeffect()->uniqueID),
            static_cast<std::uint32_t>(effect.getVendorVersion())};
}

// An editor's last steps with the effect: the display data is detached, so no
// processing call enters it any more, and its locks are held while `release`
// runs (the editor detaches itself and closes), so none is still inside.
template <typename Release> void detachDisplayAndRelease(BoosterEffect& effect, EditorDisplay& display, Release release)
{
    effect.processor().detachDisplay();
    for (CriticalSection& lock : display.ringLocks)
        lock.enter();
    display.meterLock.enter();
    release();
    for (CriticalSection& lock : display.ringLocks)
        lock.leave();
    display.meterLock.leave();
}
