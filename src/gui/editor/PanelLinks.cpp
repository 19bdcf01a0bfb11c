#include "gui/editor/PanelLinks.h"

#include "gui/editor/DisplayScale.h"
#include "gui/toolkit/SkinGeometry.h"
#include "gui/toolkit/ValueDrag.h"

using namespace skin;

const std::array<DialLayout, 3> kDialLayouts = {{
    {kDialCharacterX, kImageDialCharacter, kImageDialLeds, kCharacterSegments, kCharacterStartAngle, kCharacterEndAngle,
     kRing1OuterRadius, kRing1InnerRadius, kAmount, kCharacter},
    {kDialDriveX, kImageDialDrive, kImageDialLeds, kModeSegments, kModeStartAngle, kModeEndAngle, kRing1OuterRadius,
     kRing1InnerRadius, kDrive, kMode},
    {kDialLevelX, kImageDialLevel, 0, 1, 0.0f, 0.0f, 0, 0, kLevel, -1},
}};

const std::array<ButtonLayout, 5> kButtonLayouts = {{
    {kButtonOversampleX, kImageButtonOversample, kCommandOversample, kOversample},
    {kButtonPowerX, kImageButtonPower, kCommandEnable, kEnable},
    {kButtonStereoX, kImageButtonStereo, kCommandChannels, kChannels},
    {kButtonDownloadX, kImageButtonDownload, kCommandUpdateCheck, -1},
    {kButtonInfoX, kImageButtonInfo, kCommandAbout, -1},
}};

const std::array<ScopeLayout, 3> kScopeLayouts = {{
    {kScopeTubeX, kImageScopeTube, kScopeSquarePlotWidth, 15},
    {kScopeTapeX, kImageScopeTape, kScopeSquarePlotWidth, 15},
    {kScopeResponseX, kImageScopeResponse, kScopeResponsePlotWidth, 255},
}};

const std::array<MeterLayout, 2> kMeterLayouts = {{
    {kMeterInputY, kImageMeterInputOff, kImageMeterInputOn},
    {kMeterOutputY, kImageMeterOutputOff, kImageMeterOutputOn},
}};

int parameterOfCommand(int command)
{
    for (const ButtonLayout& button : kButtonLayouts)
        if (button.command == command)
            return button.parameter;
    return -1;
}

namespace {

int parameterOfRing(int dial, int ring)
{
    const DialLayout& layout = kDialLayouts[static_cast<std::size_t>(dial)];
    return ring == 0 ? layout.ring0Parameter : layout.ring1Parameter;
}

void sendRing(PanelHost& host, int parameter, int ring, const DialRing (&rings)[2], DialLink& link)
{
    host.performEdit(parameter, static_cast<float>(rings[ring].value) * 0.01f);
    link.exchanged[ring] = rings[ring].value;
}

} // namespace

bool syncDialRings(PanelHost& host, int dial, DialRing (&rings)[2], DialLink& link)
{
    for (int r = 0; r < 2; ++r) {
        const int parameter = parameterOfRing(dial, r);
        if (parameter < 0)
            continue;
        DialRing& ring = rings[r];
        if (ring.value != link.exchanged[r]) {
            // Moved inside a drag; anything else reaches the host as a gesture of its own.
            if (link.editing[r]) {
                sendRing(host, parameter, r, rings, link);
            } else {
                host.beginEdit(parameter);
                sendRing(host, parameter, r, rings, link);
                host.endEdit(parameter);
            }
        } else if (r == 0) {
            const double fromHost = static_cast<double>(host.parameter(parameter)) * 100.0;
            const int value = static_cast<int>(fromHost);
            ring.value = value < 0 ? 0 : (value > 100 ? 100 : value);
            link.exchanged[r] = ring.value;
        } else {
            // A selector shows the step the sound uses.
            ring.value = selectorValueFor(host.parameter(parameter), ring.steps);
            link.exchanged[r] = ring.value;
        }
    }
    return rings[0].value != rings[0].paintedValue || rings[1].value != rings[1].paintedValue;
}

void ringPressed(PanelHost& host, int dial, int ring, DialRing (&rings)[2], DialLink& link)
{
    const int parameter = parameterOfRing(dial, ring);
    if (parameter < 0)
        return;
    if (rings[ring].dragAnchor != kNotDragging) {
        if (!link.editing[ring]) {
            host.beginEdit(parameter);
            link.editing[ring] = true;
        }
    } else if (rings[ring].value != link.exchanged[ring]) {
        host.beginEdit(parameter);
        sendRing(host, parameter, ring, rings, link);
        host.endEdit(parameter);
    }
}

void ringReleased(PanelHost& host, int dial, int ring, DialRing (&rings)[2], DialLink& link)
{
    const int parameter = parameterOfRing(dial, ring);
    if (parameter < 0 || !link.editing[ring])
        return;
    if (rings[ring].value != link.exchanged[ring])
        sendRing(host, parameter, ring, rings, link);
    host.endEdit(parameter);
    link.editing[ring] = false;
}

void endDialGestures(PanelHost& host, int dial, DialRing (&rings)[2], DialLink& link)
{
    for (int r = 0; r < 2; ++r)
        ringReleased(host, dial, r, rings, link);
}

void clickParameter(PanelHost& host, int parameter, float value)
{
    host.beginEdit(parameter);
    host.performEdit(parameter, value);
    host.endEdit(parameter);
}

int buttonFrameFor(PanelHost& host, int button)
{
    const int step =
        static_cast<int>(host.parameter(kButtonLayouts[static_cast<std::size_t>(button)].parameter) * 2.0f);
    return step > 1 ? 1 : step;
}

bool drawResponseCurve(BoosterProcessor& processor, std::array<double, kResponsePoints>& copy, ScopeRaster& raster)
{
    if (!processor.takeResponseCurve(copy))
        return false;
    for (int i = 0; i < kResponsePoints; ++i) {
        const auto [x, y] = responseCurvePoint(i, copy[static_cast<std::size_t>(i)]);
        raster.plotCurvePoint(x, y);
    }
    return true;
}

void drawScopeDots(EditorDisplay& display, int column, ScopeRaster& raster)
{
    // The audio thread only tries this lock: holding it costs it one block's frames.
    display.ringLocks[column].enter();
    for (const ScopeFrame& frame : display.scopeRing) {
        const ScopePoint& point = frame.points[column];
        // Mirrored: a positive x lands left of centre.
        raster.plotDot(-static_cast<float>(point.x), static_cast<float>(point.y));
    }
    display.ringLocks[column].leave();
}

std::array<int, 4> meterValues(EditorDisplay& display)
{
    display.meterLock.enter();
    const std::array<double, 4> levels = display.meterLevels;
    display.meterLock.leave();
    return {meterValueOf(levels[0], kInputMeterOffsetDb), meterValueOf(levels[1], kInputMeterOffsetDb),
            meterValueOf(levels[2], kOutputMeterOffsetDb), meterValueOf(levels[3], kOutputMeterOffsetDb)};
}
