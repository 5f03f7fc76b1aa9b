#pragma once
// How the windows follow the desktop: the size of its font and the lightness of its palette.
//
// The windows were laid out to the pixel for the classic desktop font of 12 pixels (9 points at 96
// dots per inch). Where the desktop's font is larger, their places and sizes grow by the same
// factor, so that no text is cut; where it is smaller, they keep their designed places.

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QSize>

class QPalette;

namespace tarnwick::ui {

// The desktop font's size over the designed 12 pixels; at least 1.
double FontScale();

// A designed length, place or size at the desktop's font size.
int Scaled(int designed);
QSize Scaled(const QSize& designed);
QRect Scaled(const QRect& designed);

// A designed font size in pixels at the desktop's font size, rounded down, so that a text never
// outgrows the place scaled for it.
int ScaledFontPixels(int designed);

// True for a colour that reads as dark (a window background of a dark desktop palette).
bool IsDark(const QColor& colour);

// A fixed colour that stays readable on `background`: the same hue, lightened where the
// background is dark.
QColor ReadableOn(const QColor& colour, const QColor& background);

// Mean lightness (0..255) of the visible pixels of a picture; 255 for a blank one.
double MeanLightness(const QImage& image);

// A picture that stays visible on the palette's window colour: where that is dark, a dark glyph
// (the style's black symbols) is drawn light, each pixel keeping its hue.
QIcon VisibleIcon(const QIcon& icon, const QPalette& palette);

}  // namespace tarnwick::ui
