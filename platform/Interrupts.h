// Ctrl+C, a closed terminal, a polite kill: while a run changes files these
// are held back until it has finished or rolled back the file at hand; at any
// other time they end the process as usual.
#pragma once

#include <functional>
#include <stdexcept>

namespace kvo::platform {

// A signal asked the process to stop while a run held it back.
class Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error("interrupted") {}
};

// Once, at program start. Also makes writing past a file-size limit an
// ordinary failed write rather than the end of the process.
void InstallInterruptHandling();

// While one of these lives, interrupting signals are recorded, not obeyed.
class HoldInterrupts {
 public:
  HoldInterrupts();
  ~HoldInterrupts();
  HoldInterrupts(const HoldInterrupts&) = delete;
  HoldInterrupts& operator=(const HoldInterrupts&) = delete;
};

// The signal that arrived while held back, 0 when none did.
int InterruptSignal();

// For a process that goes on after a run: whether a run holds signals back
// now, and to forget the signal the last run answered.
bool InterruptsHeld();
void ForgetInterrupt();

// Throws Interrupted when a signal arrived: called where a run can still
// stop and roll back.
void ThrowIfInterrupted();

// The pause between tries while a file is busy for a moment (a look, a
// scanner, another run letting go). Tests put in a pause of their own (the
// other party going on meanwhile); an empty one brings the system's back.
void PauseWhileBusy(unsigned milliseconds);
void SetBusyPause(std::function<void(unsigned milliseconds)> pause);

}  // namespace kvo::platform
