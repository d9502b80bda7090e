// The window as it is designed, whoever draws it (Qt on Linux, Win32 on
// Windows): where it opens, its controls' places and texts, the rule that
// fits the font to them, and when the progress of a long run shows. The
// widgets are each toolkit's own.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "Messages.h"
#include "Paths.h"
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

// The progress of a run as both windows show it: files done and, within a
// large file, its bytes, in thousandths of a file; due once the run has
// taken `after`.
class Progress {
 public:
  using Clock = std::chrono::steady_clock;
  std::chrono::milliseconds after = kProgressAfter;

  // A file of the run begins: done of total, its path. The run starts at 0
  // and is over where the path is empty: false then.
  bool Begin(std::size_t done, std::size_t total, const std::string& path) {
    if (done == 0) started_ = Clock::now();
    if (path.empty()) started_.reset();
    done_ = done;
    total_ = total;
    permille_ = 0;
    path_ = path;
    return started_.has_value();
  }
  void Within(std::uint64_t done, std::uint64_t total) {
    permille_ = total == 0 ? 0 : static_cast<int>(done * 1000 / total);
  }
  bool Due() const { return started_ && Clock::now() - *started_ >= after; }
  // "Datei N von M: NAME", with the file's name, or its whole path for a
  // control that shortens paths itself.
  std::string Line(bool wholePath) const {
    return ProgressLine(done_, total_, wholePath ? path_ : platform::NameOf(path_));
  }
  int Range() const { return static_cast<int>(total_ * 1000); }
  int Position() const { return static_cast<int>(done_ * 1000) + permille_; }

 private:
  std::optional<Clock::time_point> started_;
  std::size_t done_ = 0, total_ = 1;
  int permille_ = 0;
  std::string path_;
};

}  // namespace kvo::design
