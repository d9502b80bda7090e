// The window as it is designed, whoever draws it (Qt on Linux, Win32 on
// Windows): where it opens, its controls' places and texts, the rule that
// fits the font to them, and when the progress of a long run shows. The
// widgets are each toolkit's own.
#pragma once

#include <chrono>
#include <string>

#include "Messages.h"
#include "Placement.h"

namespace kvo::design {

// The client area where the window opens; the controls within it.
inline constexpr Rect kWindow{379, 601, 268, 97};
inline constexpr Rect kButton{48, 16, 185, 25};
inline constexpr Rect kLabel1{61, 54, 155, 13};
inline constexpr Rect kLabel2{36, 72, 205, 13};
inline constexpr const char* kButtonText = kConvertButtonText;
inline constexpr const char* kLabel1Text = kFromVersionText;
inline constexpr const char* kLabel2Text = kToVersionText;

// "MS Sans Serif", 11 pixels high at 96 dots per inch.
inline constexpr const char* kFontFace = "MS Sans Serif";

// The font rule: where a stand-in for the designed font is wider, the
// largest size from 11 pixels down to 6 at which every text shows whole in
// its control (a cut label, "... und späte", would read wrong). measure(text,
// pixels) gives the text's width and the line's height at that size.
template <class Measure>
int FittingFontPixels(Measure measure) {
  constexpr int kButtonFrame = 12;  // what the button's border and focus frame take
  const struct {
    const char* text;
    int room;
  } texts[] = {{kButtonText, kButton.width - kButtonFrame},
               {kLabel1Text, kLabel1.width},
               {kLabel2Text, kLabel2.width}};
  int pixels = 11;
  for (; pixels > 6; --pixels) {
    bool fits = true;
    for (const auto& t : texts) {
      const auto [width, height] = measure(t.text, pixels);
      fits = fits && width <= t.room && height <= kLabel1.height;
    }
    if (fits) break;
  }
  return pixels;
}

// A run of several files shows its progress once it has taken this long.
inline constexpr std::chrono::milliseconds kProgressAfter{1000};

}  // namespace kvo::design
