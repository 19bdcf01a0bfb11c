#include "gui/editor/BoosterEditorPosix.h"

#include "gui/toolkit/DisplayConnection.h"
#include "gui/toolkit/SkinGeometry.h"
#include "gui/toolkit/ValueDrag.h"
#include "gui/toolkit/XErrorTrap.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo-xlib.h>

#include <cstdint>
#include <memory>
#include <new>

namespace {

void (*updateCheckStarter)(UpdateCheckState&, void*) = startUpdateCheck;

bool inside(int x, int y, int left, int top, int width, int height)
{
    return x >= left && y >= top && x < left + width && y < top + height;
}

constexpr long kEventMask =
    ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;

} // namespace

std::unique_ptr<PanelView> createPanelView(PanelHost& host)
{
    std::unique_ptr<BoosterEditor> view(new (std::nothrow) BoosterEditor(host));
    if (!view || !view->hasPictures())
        return nullptr;
    return view;
}

void BoosterEditor::setUpdateCheckStarter(void (*starter)(UpdateCheckState&, void*))
{
    updateCheckStarter = starter ? starter : startUpdateCheck;
}

BoosterEditor::BoosterEditor(PanelHost& panelHost) : host(panelHost)
{
    using namespace skin;
    updateState.identity = boosterUpdateIdentity();
    about = loadSkinImage(kImageAbout);
    panel = loadSkinImage(kImagePanel);
    if (panel) {
        panelWidth = surfaceWidth(panel.get());
        panelHeight = surfaceHeight(panel.get());
        frame = composeOverPanel(panel.get(), nullptr, 0, 0, panelWidth, panelHeight, 1);
    }

    SkinSurface leds = loadSkinImage(kImageDialLeds);
    for (std::size_t d = 0; d < dials.size(); ++d) {
        const DialLayout& layout = kDialLayouts[d];
        Dial& dial = dials[d];
        shapeDialRing(dial.rings[0], true, kRing0StartAngle, kRing0EndAngle, kRing0Steps, kRing0InnerRadius,
                      kRing0OuterRadius);
        shapeDialRing(dial.rings[1], false, layout.ring1StartAngle, layout.ring1EndAngle, layout.ring1Segments,
                      layout.ring1InnerRadius, layout.ring1OuterRadius);
        SkinSurface base = loadSkinImage(layout.baseImage);
        const int width = surfaceWidth(base.get());
        const int height = surfaceHeight(base.get());
        dial.base = composeOverPanel(panel.get(), base.get(), layout.x, kDialY, width, height, 1);
        dial.lit[0] = composeOverPanel(panel.get(), leds.get(), layout.x, kDialY, width, height, 1);
        if (layout.ring1Image != 0) {
            SkinSurface ring1Leds = layout.ring1Image == kImageDialLeds ? nullptr : loadSkinImage(layout.ring1Image);
            dial.lit[1] = composeOverPanel(panel.get(), ring1Leds ? ring1Leds.get() : leds.get(), layout.x, kDialY,
                                           width, height, 1);
        }
    }
    for (std::size_t b = 0; b < buttons.size(); ++b) {
        SkinSurface image = loadSkinImage(kButtonLayouts[b].image);
        buttons[b].strip = composeOverPanel(panel.get(), image.get(), kButtonLayouts[b].x, kButtonY,
                                            surfaceWidth(image.get()), surfaceHeight(image.get()) / 2, 2);
    }
    for (std::size_t s = 0; s < scopes.size(); ++s) {
        const ScopeLayout& layout = kScopeLayouts[s];
        SkinSurface image = loadSkinImage(layout.image);
        Scope& scope = scopes[s];
        scope.shown = composeOverPanel(panel.get(), image.get(), layout.x, kScopeY, surfaceWidth(image.get()),
                                       surfaceHeight(image.get()), 1);
        if (!scope.shown)
            continue;
        cairo_surface_t* shown = scope.shown.get();
        const int width = surfaceWidth(shown);
        // The raster works on unpadded rows.
        std::vector<std::uint32_t> picture;
        for (int row = 0; row < surfaceHeight(shown); ++row)
            picture.insert(picture.end(), surfacePixels(shown, row), surfacePixels(shown, row) + width);
        scope.raster.assign(picture.data(), width, surfaceHeight(shown), layout.plotWidth, kScopePlotHeight);
    }
    for (std::size_t m = 0; m < meters.size(); ++m) {
        const MeterLayout& layout = kMeterLayouts[m];
        Meter& meter = meters[m];
        shapeMeterBars(meter.bars);
        SkinSurface off = loadSkinImage(layout.offImage);
        SkinSurface on = loadSkinImage(layout.onImage);
        const int width = surfaceWidth(off.get());
        const int height = surfaceHeight(off.get());
        meter.off = composeOverPanel(panel.get(), off.get(), kMeterX, layout.y, width, height, 1);
        meter.on = on ? composeOverPanel(panel.get(), on.get(), kMeterX, layout.y, width, height, 1) : nullptr;
    }

    host.processor().attachDisplay(&displayData);
}

BoosterEditor::~BoosterEditor()
{
    abandonUpdateCheck(updateState);
    // Before the display locks: ending a gesture takes the processor's lock.
    endGestures();
    detachDisplayAndRelease(host.processor(), displayData, [this] { close(); });
}

bool BoosterEditor::open(void* parentWindow)
{
    if (!parentWindow || !frame)
        return false;
    if (window)
        close(); // a second open without a close: start afresh
    display = openDisplayConnection();
    if (!display)
        return false;

    const Window parent = static_cast<Window>(reinterpret_cast<std::uintptr_t>(parentWindow));
    XWindowAttributes own{};
    {
        XErrorTrap errors(display);
        XWindowAttributes parentAttributes{};
        if (XGetWindowAttributes(display, parent, &parentAttributes) != 0 && !errors.failed()) {
            XSetWindowAttributes attributes{};
            attributes.event_mask = kEventMask;
            attributes.background_pixmap = None;
            window = XCreateWindow(display, parent, 0, 0, static_cast<unsigned>(panelWidth),
                                   static_cast<unsigned>(panelHeight), 0, CopyFromParent, InputOutput, CopyFromParent,
                                   CWEventMask | CWBackPixmap, &attributes);
        }
        if (errors.failed() || !window || XGetWindowAttributes(display, window, &own) == 0 || errors.failed())
            window = 0;
    }
    if (!window) {
        close();
        return false;
    }
    windowSurface = cairo_xlib_surface_create(display, window, own.visual, panelWidth, panelHeight);
    // Every opening starts on the panel, its about button dark with it.
    aboutShown = false;
    buttons[kAboutButton].state = 0;
    capturedDial = -1;
    for (Dial& dial : dials)
        dial.rings[0].dragAnchor = dial.rings[1].dragAnchor = kNotDragging;

    syncControls();
    feedDisplays();
    host.processor().startScopeFeed();
    XMapWindow(display, window);
    render();
    present();
    XSync(display, False);
    return true;
}

void BoosterEditor::close()
{
    endGestures();
    host.processor().stopScopeFeed();
    if (windowSurface)
        cairo_surface_destroy(windowSurface);
    windowSurface = nullptr;
    if (display) {
        if (window) {
            XErrorTrap errors(display);
            XDestroyWindow(display, window);
        }
        XCloseDisplay(display);
    }
    display = nullptr;
    window = 0;
    capturedDial = -1;
}

// A drag cut short by a close still ends its gesture.
void BoosterEditor::endGestures()
{
    for (int d = 0; d < 3; ++d)
        endDialGestures(host, d, dials[static_cast<std::size_t>(d)].rings, dialLinks[static_cast<std::size_t>(d)]);
}

void BoosterEditor::idle()
{
    if (!display)
        return;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        handleEvent(event);
    }
    if (!aboutShown) {
        syncControls();
        // The displays move at the Windows editor's pace, whatever the host's idle rate.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastFeed >= std::chrono::milliseconds(kRefreshMilliseconds)) {
            lastFeed = now;
            feedDisplays();
        }
    }
    if (dirty) {
        render();
        present();
    }
}

// ---- Input ------------------------------------------------------------------

void BoosterEditor::handleEvent(const XEvent& event)
{
    if (event.xany.window != window)
        return;
    switch (event.type) {
    case Expose:
        dirty = true;
        break;
    case DestroyNotify:
        // The host destroyed its window, and the panel with it: nothing more to draw on.
        if (windowSurface)
            cairo_surface_destroy(windowSurface);
        windowSurface = nullptr;
        window = 0;
        break;
    case ButtonPress:
        pressAt(event.xbutton.x, event.xbutton.y, event.xbutton.button, event.xbutton.state);
        break;
    case ButtonRelease:
        releaseAt(event.xbutton.x, event.xbutton.y, event.xbutton.button);
        break;
    case MotionNotify:
        moveTo(event.xmotion.x, event.xmotion.y, event.xmotion.state);
        break;
    default:
        break;
    }
}

int BoosterEditor::dialAt(int x, int y) const
{
    if (aboutShown)
        return -1;
    for (std::size_t d = 0; d < dials.size(); ++d) {
        cairo_surface_t* base = dials[d].base.get();
        if (base && inside(x, y, kDialLayouts[d].x, skin::kDialY, surfaceWidth(base), surfaceHeight(base)))
            return static_cast<int>(d);
    }
    return -1;
}

void BoosterEditor::pressAt(int x, int y, unsigned mouseButton, unsigned modifiers)
{
    for (std::size_t b = 0; b < buttons.size(); ++b) {
        Button& button = buttons[b];
        if (!button.strip || !inside(x, y, kButtonLayouts[b].x, skin::kButtonY, skin::kButtonWidth,
                                     surfaceHeight(button.strip.get()) / 2))
            continue;
        if (mouseButton == Button1) {
            button.state = 1 - button.state;
            dirty = true;
            onButton(kButtonLayouts[b].command, button.state);
        }
        return;
    }
    const int d = dialAt(x, y);
    const int track = mouseButton == Button1 ? 0 : (mouseButton == Button3 ? 1 : -1);
    if (d < 0 || track < 0)
        return;
    DialRing(&rings)[2] = dials[static_cast<std::size_t>(d)].rings;
    const auto row = static_cast<std::uint16_t>(y - skin::kDialY);
    if (pressTrack(rings[track].value, rings[track].dragAnchor, rings[1 - track].dragAnchor, track,
                   (modifiers & ControlMask) != 0, row, 1))
        capturedDial = d;
    ringPressed(host, d, track, rings, dialLinks[static_cast<std::size_t>(d)]);
}

void BoosterEditor::releaseAt(int x, int y, unsigned mouseButton)
{
    const int d = capturedDial >= 0 ? capturedDial : dialAt(x, y);
    const int track = mouseButton == Button1 ? 0 : (mouseButton == Button3 ? 1 : -1);
    if (d < 0 || track < 0)
        return;
    DialRing(&rings)[2] = dials[static_cast<std::size_t>(d)].rings;
    if (endDrag(rings[track].dragAnchor, rings[1 - track].dragAnchor))
        capturedDial = -1;
    ringReleased(host, d, track, rings, dialLinks[static_cast<std::size_t>(d)]);
}

void BoosterEditor::moveTo(int x, int y, unsigned modifiers)
{
    const int d = capturedDial >= 0 ? capturedDial : dialAt(x, y);
    if (d < 0)
        return;
    const auto row = static_cast<std::int16_t>(y - skin::kDialY);
    const bool snapToTens = (modifiers & ShiftMask) != 0;
    for (DialRing& ring : dials[static_cast<std::size_t>(d)].rings)
        followDrag(ring.value, ring.dragAnchor, row, 1, snapToTens);
}

void BoosterEditor::onButton(int command, int state)
{
    const int parameter = parameterOfCommand(command);
    if (parameter >= 0) {
        clickParameter(host, parameter, (state & 1) ? 1.0f : 0.0f);
    } else if (command == kCommandUpdateCheck) {
        updateCheckStarter(updateState, reinterpret_cast<void*>(static_cast<std::uintptr_t>(window)));
        buttons[kUpdateButton].state = 0; // a momentary button: back to off
    } else if (command == kCommandAbout) {
        aboutShown = (state & 1) != 0;
    }
}

// ---- The refresh cycle --------------------------------------------------------

void BoosterEditor::syncControls()
{
    for (int d = 0; d < 3; ++d)
        if (dials[static_cast<std::size_t>(d)].base &&
            syncDialRings(host, d, dials[static_cast<std::size_t>(d)].rings, dialLinks[static_cast<std::size_t>(d)]))
            dirty = true;
    for (int b = 0; b < 3; ++b) {
        const int on = buttonFrameFor(host, b);
        if (buttons[static_cast<std::size_t>(b)].state != on) {
            buttons[static_cast<std::size_t>(b)].state = on;
            dirty = true;
        }
    }
}

void BoosterEditor::feedDisplays()
{
    Scope& response = scopes[kResponseScope];
    if (drawResponseCurve(host.processor(), responseCopy, response.raster))
        commitScope(response, kScopeLayouts[kResponseScope].fade);
    for (int s = 0; s < 2; ++s) {
        Scope& scope = scopes[static_cast<std::size_t>(s)];
        drawScopeDots(displayData, s, scope.raster);
        commitScope(scope, kScopeLayouts[static_cast<std::size_t>(s)].fade);
    }
    const std::array<int, 4> levels = meterValues(displayData);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        MeterBar& bar = meters[i / 2].bars[i % 2];
        bar.value = levels[i];
        if (bar.value != bar.paintedValue)
            dirty = true;
    }
}

void BoosterEditor::commitScope(Scope& scope, std::uint8_t fade)
{
    if (!scope.raster.hasPixels() || !scope.shown)
        return;
    cairo_surface_t* shown = scope.shown.get();
    cairo_surface_flush(shown);
    scope.raster.copyOpaqueTo(surfacePixels(shown, 0),
                              static_cast<std::size_t>(cairo_image_surface_get_stride(shown)) / sizeof(std::uint32_t));
    cairo_surface_mark_dirty(shown);
    scope.raster.finishFrame(fade);
    dirty = true;
}

// ---- Drawing ------------------------------------------------------------------

void BoosterEditor::render()
{
    dirty = false;
    cairo_surface_t* target = frame.get();
    cairo_t* cr = cairo_create(target);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, aboutShown && about ? about.get() : panel.get(), 0, 0);
    cairo_paint(cr);
    const auto copy = [cr](cairo_surface_t* source, double x, double y, double sourceX, double sourceY, double width,
                           double height) {
        cairo_set_source_surface(cr, source, x - sourceX, y - sourceY);
        cairo_rectangle(cr, x, y, width, height);
        cairo_fill(cr);
    };
    if (!aboutShown) {
        for (std::size_t s = 0; s < scopes.size(); ++s)
            if (cairo_surface_t* shown = scopes[s].shown.get())
                copy(shown, kScopeLayouts[s].x, skin::kScopeY, 0, 0, surfaceWidth(shown), surfaceHeight(shown));
        for (std::size_t m = 0; m < meters.size(); ++m) {
            Meter& meter = meters[m];
            if (!meter.off || !meter.on)
                continue;
            const int y = kMeterLayouts[m].y;
            copy(meter.off.get(), skin::kMeterX, y, 0, 0, surfaceWidth(meter.off.get()),
                 surfaceHeight(meter.off.get()));
            for (MeterBar& bar : meter.bars) {
                const PixelRect lit = litRectangle(bar, true);
                if (lit.right > lit.left && lit.bottom > lit.top)
                    copy(meter.on.get(), skin::kMeterX + lit.left, y + lit.top, lit.left, lit.top, lit.right - lit.left,
                         lit.bottom - lit.top);
                bar.paintedValue = bar.value;
            }
        }
    }
    for (std::size_t b = 0; b < buttons.size(); ++b) {
        cairo_surface_t* strip = buttons[b].strip.get();
        if (!strip)
            continue;
        const int height = surfaceHeight(strip) / 2;
        copy(strip, kButtonLayouts[b].x, skin::kButtonY, 0, buttons[b].state * height, surfaceWidth(strip), height);
    }
    cairo_destroy(cr);
    if (!aboutShown)
        for (int d = 0; d < 3; ++d)
            renderDial(d);
}

void BoosterEditor::renderDial(int index)
{
    Dial& dial = dials[static_cast<std::size_t>(index)];
    if (!dial.base)
        return;
    cairo_surface_t* target = frame.get();
    cairo_surface_flush(target);
    const auto words = [](cairo_surface_t* surface) {
        return surface ? static_cast<std::size_t>(cairo_image_surface_get_stride(surface)) / sizeof(std::uint32_t) : 0;
    };
    const auto pixels = [](const SkinSurface& surface) { return surface ? surfacePixels(surface.get(), 0) : nullptr; };
    // The composed pictures of one dial share their size, so they share their row length.
    lightDialPixels(dial.rings, skin::kDialCenterX, skin::kDialCenterY, surfaceWidth(dial.base.get()),
                    surfaceHeight(dial.base.get()), pixels(dial.base), pixels(dial.lit[0]), pixels(dial.lit[1]),
                    words(dial.base.get()),
                    surfacePixels(target, skin::kDialY) + kDialLayouts[static_cast<std::size_t>(index)].x,
                    words(target));
    cairo_surface_mark_dirty(target);
    dial.rings[0].paintedValue = dial.rings[0].value;
    dial.rings[1].paintedValue = dial.rings[1].value;
}

void BoosterEditor::present()
{
    if (!windowSurface)
        return;
    XErrorTrap errors(display);
    cairo_t* cr = cairo_create(windowSurface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, frame.get(), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(windowSurface);
}
