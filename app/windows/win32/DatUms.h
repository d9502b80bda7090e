// The window of the Windows build, on plain Win32: the same conversion run as
// the Qt window and the command line, only the dialog, boxes, cursor and
// progress are the system's own.
#pragma once

#include <windows.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Summary.h"
#include "UserInterface.h"
#include "Window.h"

namespace kvo::win32 {

// Designed at 96 dots per inch; everything scales with the display.
struct Scale {
  UINT dpi = USER_DEFAULT_SCREEN_DPI;
  int operator()(int designed) const { return ::MulDiv(designed, static_cast<int>(dpi), 96); }
};

// The dialog, boxes, cursor and progress window of the real window.
class Win32UserInterface final : public UserInterface {
 public:
  explicit Win32UserInterface(HWND window) : window_(window) {}

  // FormCreate: where the dialog starts.
  void SetStartFolder(std::wstring folder) { startFolder_ = std::move(folder); }
  void SetScale(Scale scale) { scale_ = scale; }
  void SetFont(HFONT font) { font_ = font; }

  std::optional<std::string> ChooseFile() override;
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;
  bool ShowSummary(const std::vector<FileResult>& results, bool offerUndo) override;
  bool ConfirmStart(const std::string& question) override;
  void BeginWait() override;
  void EndWait() override;
  void Progress(std::size_t done, std::size_t total, const std::string& current) override;
  void FileProgress(std::uint64_t done, std::uint64_t total) override;
  bool CancelRequested() override { return cancelled_; }
  void RequestCancel() { cancelled_ = true; }

  bool waiting() const { return waiting_; }
  // The run's progress; shown for work that lasts longer than progress.after.
  design::Progress progress;

 private:
  struct Button {
    std::string text;
    int id;
    int width;  // at 96 dots per inch
  };
  // A box of the window's own: the system's icon (when given), the text, a
  // list that scrolls under its heading (when not empty) and the buttons,
  // the first the default. The button chosen; IDCANCEL for Escape or the
  // close button.
  int Box(const std::string& text, const FailureListing& list, const std::vector<Button>& buttons,
          const wchar_t* icon = nullptr);
  void ShowProgress();
  void EndProgress();

  HWND window_;
  Scale scale_;
  HFONT font_ = nullptr;
  std::wstring startFolder_;
  std::array<wchar_t, 32768> file_{};
  bool waiting_ = false;
  HWND progress_ = nullptr;
  bool cancelled_ = false;
};

class TForm1 {
 public:
  explicit TForm1(HINSTANCE instance);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Shows the window; files and folders named are converted right after.
  void Show(int show, std::vector<std::string> named = {});
  // The message loop, until the window is closed.
  int Run();

  void BitBtn1Click();
  // Files and folders dropped on the window or given to the program; with
  // askFirst (the program was started with them) the user is asked once.
  void ConvertNamed(const std::vector<std::string>& named, bool askFirst = false);
  // Lays the window out for a display of dpi dots per inch.
  void ApplyDpi(UINT dpi);

  HWND window() const { return window_; }
  Win32UserInterface& ui() { return *ui_; }
  HFONT font() const { return font_; }

  HWND BitBtn1 = nullptr;
  HWND Label1 = nullptr;
  HWND Label2 = nullptr;

 private:
  void FormCreate();
  void FitFont();
  template <class Work>
  void Guarded(Work work);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);

  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  Scale scale_;
  std::unique_ptr<Win32UserInterface> ui_;
  std::vector<std::string> named_;
  bool running_ = false;
};

// The caption of every box: the program's file name as the title rule says.
std::wstring Title();

// The answer to WM_CTLCOLORSTATIC: texts in the scheme's text colour on the
// button face, readable in a dark or high-contrast scheme too.
LRESULT LabelColours(WPARAM dc);

}  // namespace kvo::win32
