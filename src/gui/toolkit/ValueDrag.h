// The mouse rules shared by the dial's two rings and the slider's two bars:
// a press anchors a drag, vertical movement then sets the value (upwards
// raises it, one unit per 2^dragShift pixels), and a press of the second
// button during a drag joins the running drag. Portable; UI thread.
#pragma once

#include <cstdint>

constexpr int kNotDragging = -1;

// Button press on a track whose own anchor is `anchor`. With the other track
// idle, anchors at the pointer row `y` (the unsigned high word of the mouse
// position) and returns true: the caller takes the mouse capture. With the
// other track dragging, takes its anchor (both then move together) and
// returns false.
bool startDrag(int& anchor, int value, int otherAnchor, std::uint16_t y, int dragShift);

// Pointer movement at row `y` (signed, may lie outside the window while the
// capture holds). Sets value = anchor - (y >> dragShift), limited to 0..100;
// with snapToTens only multiples of ten are taken and other positions leave
// the value as it is. Does nothing when the track is not dragging.
void followDrag(int& value, int anchor, std::int16_t y, int dragShift, bool snapToTens);

// Button release: the track stops dragging. Returns true when the caller
// releases the mouse capture (the other track is idle too).
bool endDrag(int& anchor, int otherAnchor);

// A press of mouse button `track` (0 left, 1 right) on a control of two tracks.
// With Control held the track jumps to 50: the left button stops there (a
// reset, not a drag), the right one starts its drag from there. True when the
// caller takes the mouse capture.
bool pressTrack(int& value, int& anchor, int otherAnchor, int track, bool control, std::uint16_t y, int dragShift);
