// The segmented bars of the slider: where a bar lies and which part of it a
// value lights. Portable arithmetic; the slider's window paints what this says.
#pragma once

struct MeterBar {
    bool fillBar = true;   // true: lit from the bar's start to the value; false: one segment
    bool readOnly = false; // true: mouse movement never changes value
    int left = 0;          // the bar's rectangle in control pixels, right and bottom exclusive
    int right = 0;
    int top = 0;
    int bottom = 0;
    int segments = 0;
    int value = 0;        // 0..100
    int paintedValue = 0; // value at the last completed paint
    int dragAnchor = -1;  // -1 while not dragging
};

// A pixel rectangle, right and bottom exclusive; empty when right <= left or
// bottom <= top.
struct PixelRect {
    int left;
    int top;
    int right;
    int bottom;
};

// Number of segments the bar's value lights: trunc(value / 100 * (segments + 1)),
// at most segments (so the last one lights only from about 96 upwards).
int litSegmentCount(const MeterBar& bar);

// The part of the bar to copy from the lit picture. Horizontal bars grow from
// left to right, vertical ones from the bottom up. In segment mode with no
// segment lit the rectangle lies just before the bar's start.
PixelRect litRectangle(const MeterBar& bar, bool horizontal);

// Shapes the two horizontal, filled, read-only bars of a panel meter.
void shapeMeterBars(MeterBar (&bars)[2]);
