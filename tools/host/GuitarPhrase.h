// A few seconds of synthesised clean electric-guitar DI: plucked strings
// (single notes, then a chord) at about -12 dBFS peak, so the renderer and
// the editor demo work with no audio file at hand. Deterministic.
#pragma once

#include <vector>

std::vector<float> synthesizeGuitarPhrase(double sampleRate);
