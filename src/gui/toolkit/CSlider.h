// A segmented control with two independent bars, each showing 0..100 as LED
// segments; on the panel both instances are read-only stereo level meters.
// Painting copies the off picture and then each bar's lit part from the on
// picture. Windows only; UI thread.
#pragma once

#include "gui/toolkit/CMemoryDC.h"
#include "gui/toolkit/CSkinControl.h"
#include "gui/toolkit/MeterGeometry.h"

class CSlider : public CSkinControl {
public:
    CSlider() = default;
    ~CSlider() override;

    // Sets up two horizontal, filled, read-only bars of 23 segments, loads
    // the off and on pictures (over the panel region at (419, y)) and creates
    // the window at (419, y). Does nothing while a window exists; a missing
    // image leaves the slider without window.
    void create(HINSTANCE moduleInstance, HWND parent, HBITMAP panel, int y, int offImageId, int onImageId);

    void destroyWindow() override;

    // The owner writes value (0..100) and compares it with paintedValue,
    // which every completed paint updates.
    MeterBar bars[2];

    int dragShift = 1;
    bool horizontal = true;

protected:
    const char* classSuffix() const override { return "COVKSliderClass"; }
    int* instanceCounter() const override { return &liveWindows; }
    WNDPROC windowProcedure() const override { return windowProc; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void loadImages(HBITMAP panel, int offImageId, int onImageId, int x, int y);
    void releaseImages();
    void paint(HWND hwnd);
    void pressBar(int bar, WPARAM keys, LPARAM position);
    void releaseBar(int bar);

    static int liveWindows;

    CMemoryDC offImage;
    CMemoryDC onImage;
};
