#include "SecondRun.h"

#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

#include "Interrupts.h"

namespace kvo::test {

namespace {

void Send(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) ::_exit(125);  // the other side is gone
    done += static_cast<std::size_t>(n);
  }
}

char Receive(int fd) {
  char c = 0;
  return ::read(fd, &c, 1) == 1 ? c : 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

SecondRun::SecondRun(Body body, WaitBefore waitBefore) {
  int down[2], up[2];
  if (::pipe(down) != 0 || ::pipe(up) != 0) throw std::runtime_error("no pipe for a second run");
  child_ = ::fork();
  if (child_ < 0) throw std::runtime_error("no second process");
  if (child_ > 0) {
    ::close(down[0]);
    ::close(up[1]);
    toChild_ = down[1];
    fromChild_ = up[0];
    return;
  }
  ::close(down[1]);
  ::close(up[0]);
  if (Receive(down[0]) != 'S') ::_exit(0);  // dismissed
  // Its own waits go by at once: what it waits for moves only when it is
  // its turn.
  platform::SetBusyPause([](unsigned) {});
  FaultyFiles files;
  files.looks = true;
  bool waited = false;
  files.before = [&](long, const std::string& what) {
    if (waited || !waitBefore || !waitBefore(what)) return;
    waited = true;
    Send(up[1], "P");
    if (Receive(down[0]) != 'G') ::_exit(0);
  };
  std::ostringstream out, err;
  const int status = body(files, out, err);
  std::ostringstream said;
  said << status << ' ' << files.calls() << ' ' << out.str().size() << ' ' << err.str().size()
       << '\n'
       << out.str() << err.str();
  Send(up[1], "E" + said.str());
  ::_exit(0);
}

SecondRun::~SecondRun() {
  if (!started_) Send(toChild_, "Q");
  if (waiting()) Finish();
  ::close(toChild_);
  ::close(fromChild_);
  ::waitpid(child_, nullptr, 0);
}

void SecondRun::Start() {
  if (started_) return;
  started_ = true;
  Send(toChild_, "S");
  const char c = Receive(fromChild_);
  paused_ = c == 'P';
  if (c == 'E') Ended();
  if (c != 'P' && c != 'E') throw std::runtime_error("the second run ended without a word");
}

void SecondRun::Finish() {
  if (!started_) Start();
  if (ended_) return;
  Send(toChild_, "G");
  if (Receive(fromChild_) != 'E') throw std::runtime_error("the second run ended without a word");
  Ended();
}

void SecondRun::Ended() {
  ended_ = true;
  std::string head;
  for (char c; (c = Receive(fromChild_)) != '\n' && c != 0;) head += c;
  std::size_t outSize = 0, errSize = 0;
  std::istringstream(head) >> exit >> calls >> outSize >> errSize;
  std::string said(outSize + errSize, '\0');
  for (std::size_t done = 0; done < said.size();) {
    const ssize_t n = ::read(fromChild_, said.data() + done, said.size() - done);
    if (n <= 0) throw std::runtime_error("the second run's lines were cut short");
    done += static_cast<std::size_t>(n);
  }
  out = Lines(said.substr(0, outSize));
  err = Lines(said.substr(outSize));
}

}  // namespace kvo::test
