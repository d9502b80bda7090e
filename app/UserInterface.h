// What a conversion run needs from whoever drives it: the window, the command
// line or a test.
#pragma once

#include <optional>
#include <string>

namespace kvo {

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // The file to convert, or nothing when the user cancels.
  virtual std::optional<std::string> ChooseFile() = 0;
  // Plain information: one OK, no icon.
  virtual void ShowInformation(const std::string& text) = 0;
  // An error that ended the run; the text is ready to show.
  virtual void ShowError(const std::string& text) = 0;
  virtual void BeginWait() = 0;
  virtual void EndWait() = 0;
};

}  // namespace kvo
