// Where the window opens: at its designed place, unless part of it would lie
// outside the screen's work area (a small screen, a task bar); then moved
// just enough to fit, its title bar first.
#pragma once

#include <algorithm>

namespace kvo {

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// window is the whole window, frame and title bar included.
inline Rect FitInto(Rect window, const Rect& area) {
  window.left = std::max(area.left, std::min(window.left, area.left + area.width - window.width));
  window.top = std::max(area.top, std::min(window.top, area.top + area.height - window.height));
  return window;
}

// A box of width by height centred over its owner window, then fitted into
// the work area of the screen it opens on: a summary or a progress window
// over a window near the bottom of a small screen stays whole.
inline Rect CentredOver(const Rect& owner, int width, int height, const Rect& area) {
  return FitInto({owner.left + (owner.width - width) / 2, owner.top + (owner.height - height) / 2,
                  width, height},
                 area);
}

}  // namespace kvo
