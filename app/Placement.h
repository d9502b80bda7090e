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

}  // namespace kvo
