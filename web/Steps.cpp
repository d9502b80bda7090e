// What the page does next with a file converted in place, and what the
// browser's answer to it means: the steps' order and their clean-up decided
// here, once.
#include <string>

#include "Core.h"

using namespace kvo;
using namespace kvo::web;

namespace {

// What the page answers to an action: done, or refused (with the browser's
// error); Stage: the new file (1) or the copy (2) refused, or both; Name: a
// file of the backup's name is there; Check: the file is not as read; Turn:
// the user cancelled.
// Stage also: the original could not be read again for its copy (4).
constexpr int kRefused = 1, kCopyRefused = 2, kOther = 2, kChangedMeanwhile = 4;

}  // namespace

extern "C" {

// In place, once the file is converted: what the page does next (an Action
// by its number), and what the browser answered to it. resumed: the
// backup's name holds the original's bytes already (a run cut short made it).
int kvo_next(int job, int resumed) {
  Plan& p = PlanOf(job);
  if (p.at == Action::Stage) p.resumed = resumed != 0;
  if (p.failed && p.copy) {
    p.copy = false;
    return static_cast<int>(Action::Drop);
  }
  if (p.failed && p.named) {
    p.named = false;
    return static_cast<int>(Action::TakeBack);
  }
  return static_cast<int>(p.failed ? Action::Done : p.at);
}
void kvo_did(int job, int answer, const char* error) {
  Plan& p = PlanOf(job);
  FileResult& r = ResultOf(job);
  const auto fail = [&](Failure kind, const std::string& reason) {
    p.failed = true;
    Befell(r, kind, reason);
  };
  const std::string reason = *error != '\0' ? kvo_reason(error) : "";
  switch (p.at) {
    case Action::Stage:
      p.copy = !p.resumed && (answer & (kCopyRefused | kChangedMeanwhile)) == 0;
      if ((answer & kRefused) != 0) return fail(Failure::Output, reason);
      if ((answer & kChangedMeanwhile) != 0) return fail(Failure::Changed, reason);
      if ((answer & kCopyRefused) != 0) return fail(Failure::Backup, reason);
      p.at = Action::Turn;
      return;
    case Action::Turn:
      if (answer != 0) return fail(Failure::NotBegun, "");
      p.at = p.copy ? Action::Name : Action::Check;
      return;
    case Action::Name:
      if (answer != 0)
        return fail(answer == kOther ? Failure::BackupTaken : Failure::Backup, reason);
      p.copy = false;
      p.named = true;
      p.at = Action::Check;
      return;
    case Action::Check:
      if (answer != 0) return fail(Failure::Changed, reason);
      p.at = Action::Close;
      return;
    case Action::Close:
      if (answer != 0) return fail(Failure::Output, reason);
      p.named = false;  // the backup now holds the only copy of the original
      p.at = Action::Done;
      return;
    default:
      return;
  }
}

}  // extern "C"
