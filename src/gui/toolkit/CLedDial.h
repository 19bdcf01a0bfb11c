// The rotary control: two concentric rings of LEDs around one centre. Ring 0
// is a 34-step arc lit from its start up to the value (left mouse button),
// ring 1 a short arc of segments of which one is lit (right mouse button).
// The dial keeps its values; the owner polls them and repaints the dial when
// a value differs from what was painted. It tells the owner only where a
// ring's gesture begins and ends. Windows only; UI thread.
#pragma once

#include "gui/toolkit/CMemoryDC.h"
#include "gui/toolkit/CSkinControl.h"
#include "gui/toolkit/DialGeometry.h"

#include <cstdint>
#include <vector>

// Sent to the owner once a ring has taken a press (a drag started or joined,
// or a reset to 50) and once a ring's drag has ended: wParam = the ring (0 or
// 1), lParam = the dial's window; kLedDialPressed or kLedDialReleased.
constexpr UINT kLedDialPressed = WM_USER + 2;
constexpr UINT kLedDialReleased = WM_USER + 3;

class CLedDial : public CSkinControl {
public:
    CLedDial() = default;
    ~CLedDial() override;

    // Sets the rings (ring 0 fixed, ring 1 from the arguments; angles in
    // radians, y axis down), loads the pictures (base image and the LED image
    // over the panel region at (x, 180)) and creates the window at (x, 180).
    // A ring 1 image id of 0 means a dial without selector. Does nothing while
    // a window exists; a missing base image leaves the dial without window.
    void create(HINSTANCE moduleInstance, HWND parent, HBITMAP panel, int baseImageId, int ring1ImageId,
                int ring1Segments, float ring1StartAngle, float ring1EndAngle, int ring1OuterRadius,
                int ring1InnerRadius, int x);

    void destroyWindow() override;

    // What the last paint drew (width x height 32-bit pixels), or null.
    const std::uint32_t* getPaintedPixels() const { return paintedPixels; }

    // The owner reads and writes value (0..100) and compares it with
    // paintedValue, which every completed paint updates.
    DialRing rings[2];

    int dragShift = 1; // mouse rows per unit of value, as a right shift
    float centerX = 40.0f;
    float centerY = 46.0f;

protected:
    const char* classSuffix() const override { return "CLedDialWindowClass"; }
    int* instanceCounter() const override { return &liveWindows; }
    WNDPROC windowProcedure() const override { return windowProc; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void loadImages(HBITMAP panel, int baseImageId, int ring1ImageId, int x);
    void releaseImages();
    void paint(HWND hwnd);
    void pressRing(int ring, WPARAM keys, LPARAM position);
    void releaseRing(int ring);

    static int liveWindows;

    // 32-bit pixels, width x height: the panel region with the base image (every
    // LED dark) and per ring the picture its lit pixels come from (empty: none).
    std::vector<std::uint32_t> basePixels;
    std::vector<std::uint32_t> litPixels[2];
    CMemoryDC paintImage;                   // what the last paint drew, as a 32-bit picture
    std::uint32_t* paintedPixels = nullptr; // its pixels
};
