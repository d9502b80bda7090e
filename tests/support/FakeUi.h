// A user who picks a preset file and reads every message, for driving the
// conversion run without a window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Messages.h"
#include "Summary.h"
#include "UserInterface.h"

namespace kvo::test {

class FakeUi : public UserInterface {
 public:
  explicit FakeUi(std::optional<std::string> choice = std::nullopt) : choice(std::move(choice)) {}

  std::optional<std::string> ChooseFile() override { return choice; }
  // A box's first line goes to messages, its second (the reason) to details.
  void ShowInformation(const std::string& text) override { Box("info: ", text); }
  void ShowError(const std::string& text) override { Box("error: ", text); }
  bool ShowSummary(const std::vector<FileResult>& results, bool offerUndo) override {
    const FailureListing list = FailureList(results);
    Shown("summary: " + SummaryText(results) + "\n" +
          (list.entries.empty() ? "" : list.heading + "\n" + list.entries));
    undoOffered.push_back(offerUndo);
    return offerUndo && chooseUndo;
  }
  void BeginWait() override { ++waiting; }
  void EndWait() override { --waiting; }
  void Progress(std::size_t done, std::size_t, const std::string& current) override {
    if (!current.empty()) progress.push_back(done);
  }
  // Asks to stop once cancelAfter files have begun.
  bool CancelRequested() override { return progress.size() > cancelAfter; }

  std::optional<std::string> choice;
  std::vector<std::string> messages;
  std::vector<std::string> details;   // "" for a box of one line
  std::vector<std::size_t> progress;  // done, as each file began
  std::size_t cancelAfter = SIZE_MAX;
  bool chooseUndo = false;        // takes the summary's offer to undo
  std::vector<bool> undoOffered;  // for each summary
  int waiting = 0;
  bool waitingDuringMessage = false;

 private:
  void Box(const std::string& kind, const std::string& text) {
    const std::size_t end = text.find('\n');
    details.push_back(end == std::string::npos ? "" : text.substr(end + 1));
    Shown(kind + text.substr(0, end));
  }
  void Shown(std::string text) {
    waitingDuringMessage = waitingDuringMessage || waiting != 0;
    messages.push_back(std::move(text));
  }
};

}  // namespace kvo::test
