// A second run of the tool in a process of its own, as a second window or a
// file dropped twice starts one: made before the first run begins, so that
// it holds nothing of it, then started at a moment the test chooses and
// stopped before one of its own calls until the test lets it go on. So a
// test can interleave two runs at any pair of their calls. POSIX only.
#pragma once

#include <sys/types.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "FaultyFiles.h"

namespace kvo::test {

class SecondRun {
 public:
  // What the run is: its command line's run over files, its lines into out
  // and err; returns its exit status.
  using Body = std::function<int(FaultyFiles& files, std::ostream& out, std::ostream& err)>;
  // Asked before each of its calls (by kind, looks included): whether it
  // waits before this one. It waits once, at the first it says so of.
  using WaitBefore = std::function<bool(const std::string& call)>;

  SecondRun(Body body, WaitBefore waitBefore);
  // Lets it end: dismissed where it never started, finished where it waits.
  ~SecondRun();
  SecondRun(const SecondRun&) = delete;
  SecondRun& operator=(const SecondRun&) = delete;

  // Starts it; returns once it waits before its call, or has ended.
  void Start();
  // Lets it go on and waits for its end; at once where it has ended.
  void Finish();

  bool started() const { return started_; }
  bool waiting() const { return started_ && !ended_; }
  bool ended() const { return ended_; }
  // Whether it came to its call and waited there.
  bool paused() const { return paused_; }
  // Once ended: what it said, its status, and how many calls it made.
  int exit = -1;
  long calls = 0;
  std::vector<std::string> out, err;

 private:
  void Ended();

  pid_t child_ = -1;
  int toChild_ = -1, fromChild_ = -1;
  bool started_ = false, ended_ = false, paused_ = false;
};

}  // namespace kvo::test
