#include "gui/toolkit/ValueDrag.h"

bool startDrag(int& anchor, int value, int otherAnchor, std::uint16_t y, int dragShift)
{
    if (otherAnchor != kNotDragging) {
        anchor = otherAnchor;
        return false;
    }
    anchor = (static_cast<int>(y) >> dragShift) + value;
    return true;
}

void followDrag(int& value, int anchor, std::int16_t y, int dragShift, bool snapToTens)
{
    if (anchor == kNotDragging) {
        return;
    }
    // Arithmetic shift: rows above the window are negative and raise the value.
    const int proposed = anchor - (static_cast<int>(y) >> dragShift);
    if (snapToTens && proposed % 10 != 0) {
        return;
    }
    value = proposed < 0 ? 0 : (proposed > 100 ? 100 : proposed);
}

bool endDrag(int& anchor, int otherAnchor)
{
    anchor = kNotDragging;
    return otherAnchor == kNotDragging;
}

bool pressTrack(int& value, int& anchor, int otherAnchor, int track, bool control, std::uint16_t y, int dragShift)
{
    if (control) {
        value = 50;
        if (track == 0) {
            return false;
        }
    }
    return startDrag(anchor, value, otherAnchor, y, dragShift);
}
