// The booster's own editor, where the platform has one.
#pragma once

#include "host/BoosterEffect.h"

// Creates the editor for an effect; it attaches itself to the effect. Null
// where there is no editor (or it cannot be allocated).
AEffEditor* createBoosterEditor(BoosterEffect* effect);
