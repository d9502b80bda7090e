// A user who picks a preset file and reads every message, for driving the
// conversion run without a window.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "UserInterface.h"

namespace kvo::test {

class FakeUi : public UserInterface {
 public:
  explicit FakeUi(std::optional<std::string> choice = std::nullopt) : choice(std::move(choice)) {}

  std::optional<std::string> ChooseFile() override { return choice; }
  void ShowInformation(const std::string& text) override { Shown("info: " + text); }
  void ShowError(const std::string& text) override { Shown("error: " + text); }
  void BeginWait() override { ++waiting; }
  void EndWait() override { --waiting; }

  std::optional<std::string> choice;
  std::vector<std::string> messages;
  int waiting = 0;
  bool waitingDuringMessage = false;

 private:
  void Shown(std::string text) {
    waitingDuringMessage = waitingDuringMessage || waiting != 0;
    messages.push_back(std::move(text));
  }
};

}  // namespace kvo::test
