// Where everything sits on the panel, in panel pixels. The skin generator
// reads this file too (tools/skin), so the artwork and the controls share one
// set of numbers: change a value here and regenerate the images.
#pragma once

namespace skin {

// Panel and about picture.
constexpr int kPanelWidth = 606;
constexpr int kPanelHeight = 291;

// Resource identifiers of the images (resource type "PNG").
constexpr int kImageAbout = 103;
constexpr int kImagePanel = 104;
constexpr int kImageDialCharacter = 105; // 119 x 92, dial 0 base
constexpr int kImageDialLeds = 106;      // 119 x 92, every LED of both rings lit
constexpr int kImageDialDrive = 107;     // 119 x 92, dial 1 base
constexpr int kImageDialLevel = 108;     // 92 x 92, dial 2 base
constexpr int kImageScopeResponse = 110; // 174 x 82
constexpr int kImageScopeTape = 111;     // 82 x 82
constexpr int kImageScopeTube = 112;     // 82 x 82
constexpr int kImageMeterInputOff = 113; // 168 x 38
constexpr int kImageMeterInputOn = 114;
constexpr int kImageMeterOutputOff = 115;
constexpr int kImageMeterOutputOn = 116;
constexpr int kImageButtonOversample = 123; // 40 x 72: off frame above the on frame
constexpr int kImageButtonPower = 124;
constexpr int kImageButtonStereo = 125;
constexpr int kImageButtonDownload = 126;
constexpr int kImageButtonInfo = 127;

// Dials: all sit at y = 180; ring centre in control pixels.
constexpr int kDialY = 180;
constexpr int kDialCharacterX = 18;
constexpr int kDialDriveX = 218;
constexpr int kDialLevelX = 463;
constexpr int kDialWideWidth = 119;
constexpr int kDialNarrowWidth = 92;
constexpr int kDialHeight = 92;
constexpr float kDialCenterX = 40.0f;
constexpr float kDialCenterY = 46.0f;

// Ring 0 of every dial: a 34-step arc, y axis pointing down (-pi/2 is up).
constexpr float kRing0StartAngle = -3.9968040f; // -229 degrees
constexpr float kRing0EndAngle = 0.8552114f;    // 49 degrees
constexpr int kRing0Steps = 34;
constexpr int kRing0InnerRadius = 32;
constexpr int kRing0OuterRadius = 38;

// Ring 1 (selector) of the character and mode dials. The arcs lie in the left
// half; their segments show mirrored on the right, from the top segment (0)
// at -pi - end down to the last at -pi - start.
constexpr int kRing1InnerRadius = 63;
constexpr int kRing1OuterRadius = 81;
constexpr int kCharacterSegments = 6;
constexpr float kCharacterStartAngle = -3.8048180f; // -218 degrees
constexpr float kCharacterEndAngle = -2.4609144f;   // -141 degrees
constexpr int kModeSegments = 4;
constexpr float kModeStartAngle = -3.6128316f; // -207 degrees
constexpr float kModeEndAngle = -2.6529005f;   // -152 degrees

// Scopes: all sit at y = 83; the plot is centred, 80 rows high.
constexpr int kScopeY = 83;
constexpr int kScopeTubeX = 216;
constexpr int kScopeTapeX = 308;
constexpr int kScopeResponseX = 16;
constexpr int kScopeSquareSize = 82;
constexpr int kScopeResponseWidth = 174;
constexpr int kScopeResponseHeight = 82;
constexpr int kScopePlotHeight = 80;
constexpr int kScopeSquarePlotWidth = 80;
constexpr int kScopeResponsePlotWidth = 172;

// Meters: two horizontal bars each; right and bottom exclusive.
constexpr int kMeterX = 419;
constexpr int kMeterInputY = 83;
constexpr int kMeterOutputY = 127;
constexpr int kMeterWidth = 168;
constexpr int kMeterHeight = 38;
constexpr int kMeterSegments = 23;
constexpr int kMeterBar0Left = 3, kMeterBar0Top = 3, kMeterBar0Right = 162, kMeterBar0Bottom = 14;
constexpr int kMeterBar1Left = 3, kMeterBar1Top = 24, kMeterBar1Right = 162, kMeterBar1Bottom = 35;

// Buttons along the top: 40 x 36 each, the image holds off and on frames.
constexpr int kButtonY = 0;
constexpr int kButtonWidth = 40;
constexpr int kButtonHeight = 36;
constexpr int kButtonOversampleX = 483;
constexpr int kButtonPowerX = 403;
constexpr int kButtonStereoX = 443;
constexpr int kButtonDownloadX = 563;
constexpr int kButtonInfoX = 523;

} // namespace skin
