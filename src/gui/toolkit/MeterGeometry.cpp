#include "gui/toolkit/MeterGeometry.h"

#include "gui/toolkit/SkinGeometry.h"

int litSegmentCount(const MeterBar& bar)
{
    const int n = bar.segments;
    if (n <= 0) {
        return 0;
    }
    const float fraction = static_cast<float>(bar.value) * 0.01f;
    const int k = static_cast<int>(fraction * static_cast<float>(n + 1));
    return k < 0 ? 0 : (k > n ? n : k);
}

PixelRect litRectangle(const MeterBar& bar, bool horizontal)
{
    if (bar.segments <= 0) {
        return {bar.left, bar.top, bar.left, bar.top};
    }
    const float lit = static_cast<float>(litSegmentCount(bar));
    const float segments = static_cast<float>(bar.segments);
    if (horizontal) {
        const float step = static_cast<float>(bar.right - bar.left) / segments;
        const float edge = lit * step + static_cast<float>(bar.left);
        const int start = bar.fillBar ? bar.left : static_cast<int>(edge - step);
        return {start, bar.top, static_cast<int>(edge), bar.bottom};
    }
    const float step = static_cast<float>(bar.bottom - bar.top) / segments;
    const float edge = static_cast<float>(bar.bottom) - lit * step;
    const int end = bar.fillBar ? bar.bottom : static_cast<int>(edge + step);
    return {bar.left, static_cast<int>(edge), bar.right, end};
}

void shapeMeterBars(MeterBar (&bars)[2])
{
    const int barEdges[2][4] = {
        {skin::kMeterBar0Left, skin::kMeterBar0Top, skin::kMeterBar0Right, skin::kMeterBar0Bottom},
        {skin::kMeterBar1Left, skin::kMeterBar1Top, skin::kMeterBar1Right, skin::kMeterBar1Bottom},
    };
    for (int i = 0; i < 2; ++i) {
        MeterBar& bar = bars[i];
        bar.fillBar = true;
        bar.readOnly = true;
        bar.left = barEdges[i][0];
        bar.top = barEdges[i][1];
        bar.right = barEdges[i][2];
        bar.bottom = barEdges[i][3];
        bar.segments = skin::kMeterSegments;
        bar.dragAnchor = -1;
    }
}
