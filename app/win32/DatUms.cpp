// The window of the Windows build, on plain Win32: the same conversion run as
// the Qt window and the command line, only the dialog, boxes and cursor are
// the system's own.
#include <windows.h>
// windows.h first
#include <commdlg.h>

#include <array>
#include <cwchar>
#include <string>

#include "ConversionRun.h"
#include "Files.h"
#include "Messages.h"
#include "TableSets.h"
#include "Utf8.h"

namespace kvo::win32 {
namespace {

constexpr int kBitBtn1 = 1;
constexpr const wchar_t* kButtonText = L"Daten umsetzen";
constexpr const wchar_t* kLabel1Text = L"Von Version 1.0 vom 30.12.2007";
constexpr const wchar_t* kLabel2Text = L"Auf Version 1.1 vom 20.10.2009 und später";
// One line, never wrapped: a cut text would read wrong, a wrapped one vanishes.
constexpr DWORD kLabelStyle = SS_LEFTNOWORDWRAP | SS_NOPREFIX;

std::wstring ExecutablePath() {
  std::wstring path(32768, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

std::wstring FolderOf(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring Title() {
  const std::wstring exe = ExecutablePath();
  const std::wstring name = exe.substr(exe.find_last_of(L"\\/") + 1);
  return platform::Wide(ApplicationTitle(platform::Utf8(name)));
}

class Win32UserInterface final : public UserInterface {
 public:
  explicit Win32UserInterface(HWND window) : window_(window) {}

  // FormCreate: the dialog starts in the program's folder.
  void SetStartFolder(std::wstring folder) { startFolder_ = std::move(folder); }

  std::optional<std::string> ChooseFile() override {
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = L"*.dat\0*.dat\0";
    dialog.lpstrFile = file_.data();  // still holds the path chosen before
    dialog.nMaxFile = static_cast<DWORD>(file_.size());
    dialog.lpstrInitialDir = startFolder_.c_str();
    dialog.lpstrDefExt = L"dat";
    dialog.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&dialog)) return std::nullopt;
    return platform::Utf8(file_.data());
  }
  void ShowInformation(const std::string& text) override {
    ::MessageBoxW(window_, platform::Wide(text).c_str(), Title().c_str(), MB_OK);
  }
  void ShowError(const std::string& text) override {
    ::MessageBoxW(window_, platform::Wide(text).c_str(), Title().c_str(), MB_OK | MB_ICONSTOP);
  }
  void BeginWait() override {
    waiting = true;
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  }
  void EndWait() override {
    waiting = false;
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
  }

  bool waiting = false;

 private:
  HWND window_;
  std::wstring startFolder_;
  std::array<wchar_t, 32768> file_{};
};

class TForm1 {
 public:
  explicit TForm1(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &TForm1::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"TForm1";
    ::RegisterClassExW(&windowClass);

    // The client area is 268 x 97; the frame comes on top.
    RECT frame{0, 0, 268, 97};
    ::AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    window_ = ::CreateWindowExW(0, L"TForm1", L"Kvo-Umsetzer", WS_OVERLAPPEDWINDOW, 379, 601,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                nullptr, instance, this);
    FitFont();
    BitBtn1 =
        Control(L"BUTTON", kButtonText, WS_TABSTOP | BS_PUSHBUTTON, 48, 16, 185, 25, kBitBtn1);
    Label1 = Control(L"STATIC", kLabel1Text, kLabelStyle, 61, 54, 155, 13, 0);
    Label2 = Control(L"STATIC", kLabel2Text, kLabelStyle, 36, 72, 205, 13, 0);
    ui_ = std::make_unique<Win32UserInterface>(window_);
    FormCreate();
  }

  ~TForm1() { ::DeleteObject(font_); }

  int Run(int show) {
    ::ShowWindow(window_, show);
    ::SetFocus(BitBtn1);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (::IsDialogMessageW(window_, &message)) continue;  // Tab, Enter, Space
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    return 0;
  }

  HWND BitBtn1 = nullptr;
  HWND Label1 = nullptr;
  HWND Label2 = nullptr;

 private:
  HWND Control(const wchar_t* kind, const wchar_t* text, DWORD style, int left, int top, int width,
               int height, int id) {
    const HWND control = ::CreateWindowExW(
        0, kind, text, WS_CHILD | WS_VISIBLE | style, left, top, width, height, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    return control;
  }

  void FormCreate() { ui_->SetStartFolder(FolderOf(ExecutablePath())); }

  // "MS Sans Serif", 11 pixels high, as designed. Where the system stands in
  // a wider font for it (Wine does), the font shrinks until every text shows
  // whole in its control.
  void FitFont() {
    struct Text {
      const wchar_t* text;
      int room;
    };
    const Text texts[] = {{kButtonText, 185 - 12}, {kLabel1Text, 155}, {kLabel2Text, 205}};
    const HDC dc = ::GetDC(window_);
    for (int height = 11; height >= 6; --height) {
      font_ = ::CreateFontW(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
      const HGDIOBJ previous = ::SelectObject(dc, font_);
      bool fits = true;
      for (const Text& t : texts) {
        SIZE size{};
        ::GetTextExtentPoint32W(dc, t.text, static_cast<int>(std::wcslen(t.text)), &size);
        fits = fits && size.cx <= t.room && size.cy <= 13;
      }
      ::SelectObject(dc, previous);
      if (fits || height == 6) break;
      ::DeleteObject(font_);
    }
    ::ReleaseDC(window_, dc);
  }

  void BitBtn1Click() {
    // Nothing may escape into the message loop: the run reports its own
    // errors, and anything else still ends in an error box.
    try {
      RunConversion(*ui_, platform::SystemFiles());
    } catch (const std::exception& e) {
      ui_->ShowError(ErrorBoxText(e.what()));
    } catch (...) {
      ui_->ShowError(ErrorBoxText(kOutputFailedText));
    }
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
      ::SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<TForm1*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
      case WM_COMMAND:
        if (form != nullptr && LOWORD(w) == kBitBtn1 && HIWORD(w) == BN_CLICKED) {
          form->BitBtn1Click();
          return 0;
        }
        break;
      case WM_CTLCOLORSTATIC:  // labels on the button face, like the window
        ::SetBkMode(reinterpret_cast<HDC>(w), TRANSPARENT);
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
      case WM_SETCURSOR:
        if (form != nullptr && form->ui_ && form->ui_->waiting) {
          ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
          return TRUE;
        }
        break;
      case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
      default:
        break;
    }
    return ::DefWindowProcW(window, message, w, l);
  }

  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  std::unique_ptr<Win32UserInterface> ui_;
};

}  // namespace
}  // namespace kvo::win32

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  kvo::win32::TForm1 form(instance);
  return form.Run(show);
}
