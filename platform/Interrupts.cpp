#include "Interrupts.h"

#include <chrono>
#include <csignal>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kvo::platform {

namespace {

volatile std::sig_atomic_t held = 0;
volatile std::sig_atomic_t caught = 0;

#ifdef _WIN32

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (held == 0) return FALSE;  // the system's default: end the process
  caught = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
  return TRUE;
}

#else

void OnSignal(int signal) {
  if (held == 0) {
    // Nothing in progress: end as the signal says. It is blocked while this
    // handler runs and arrives as soon as it returns.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  caught = signal;
}

#endif

}  // namespace

void InstallInterruptHandling() {
#ifdef _WIN32
  ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&action.sa_mask, signal);
  }
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    // A signal ignored by whoever started us (nohup) stays ignored.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
  // Past a file-size limit, write() then fails with EFBIG instead.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

HoldInterrupts::HoldInterrupts() {
  held = held + 1;
}

HoldInterrupts::~HoldInterrupts() {
  held = held - 1;
}

int InterruptSignal() {
  return caught;
}

bool InterruptsHeld() {
  return held != 0;
}

void ForgetInterrupt() {
  caught = 0;
}

void ThrowIfInterrupted() {
  if (caught != 0) throw Interrupted();
}

namespace {

std::function<void(unsigned)>& BusyPause() {
  static std::function<void(unsigned)> pause;
  return pause;
}

}  // namespace

void PauseWhileBusy(unsigned milliseconds) {
  if (BusyPause()) return BusyPause()(milliseconds);
  // A signal cuts the sleep short on POSIX.
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetBusyPause(std::function<void(unsigned)> pause) {
  BusyPause() = std::move(pause);
}

}  // namespace kvo::platform
