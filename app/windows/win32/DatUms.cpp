#include "DatUms.h"

// windows.h first
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <utility>

#include "FileList.h"
#include "Files.h"
#include "Messages.h"
#include "Placement.h"
#include "Run.h"
#include "Utf8.h"
#include "Window.h"

namespace kvo::win32 {
namespace {

// Not IDOK: Enter reaches the button because the window names it as its
// default (DM_GETDEFID), not by the accident of its number.
constexpr int kBitBtn1 = 100;
constexpr UINT kConvertNamed = WM_APP + 1;

// One line, never wrapped: a cut text would read wrong, a wrapped one vanishes.
constexpr DWORD kLabelStyle = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
constexpr DWORD kFrameStyle = WS_OVERLAPPEDWINDOW;

std::wstring ExecutablePath() {
  std::wstring path(32768, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

// The folder, with its separator where it is a drive's root: "C:\", not
// "C:", which would be that drive's current folder.
std::wstring FolderOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return L".";
  const bool root = separator == 0 || path[separator - 1] == L':';
  return path.substr(0, root ? separator + 1 : separator);
}

template <class Function>
Function User32(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

// The window's display; Windows before 10 has one for all.
UINT DpiOf(HWND window) {
  static const auto getDpiForWindow = User32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (getDpiForWindow != nullptr) {
    if (const UINT dpi = getDpiForWindow(window)) return dpi;
  }
  const HDC dc = ::GetDC(window);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(window, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

// The outer size for a client area, with the frame as that display draws it.
SIZE FrameFor(SIZE client, UINT dpi) {
  RECT r{0, 0, client.cx, client.cy};
  static const auto adjustForDpi =
      User32<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
  if (adjustForDpi == nullptr || !adjustForDpi(&r, kFrameStyle, FALSE, 0, dpi)) {
    ::AdjustWindowRectEx(&r, kFrameStyle, FALSE, 0);
  }
  return {r.right - r.left, r.bottom - r.top};
}

std::vector<std::string> DroppedFiles(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
    path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
    paths.push_back(platform::Utf8(path));
  }
  ::DragFinish(drop);
  return paths;
}

}  // namespace

std::wstring Title() {
  const std::wstring exe = ExecutablePath();
  const std::wstring name = exe.substr(exe.find_last_of(L"\\/") + 1);
  return platform::Wide(ApplicationTitle(platform::Utf8(name)));
}

LRESULT LabelColours(WPARAM w) {
  const auto dc = reinterpret_cast<HDC>(w);
  ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
  ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
}

TForm1::TForm1(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &TForm1::WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = L"TForm1";
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  ::RegisterClassExW(&windowClass);

  using design::kWindow;
  window_ = ::CreateWindowExW(0, L"TForm1", L"Kvo-Umsetzer", kFrameStyle, kWindow.left, kWindow.top,
                              kWindow.width, kWindow.height, nullptr, nullptr, instance, this);
  ui_ = std::make_unique<Win32UserInterface>(window_);
  auto control = [&](const wchar_t* kind, const char* text, DWORD style, int id) {
    return ::CreateWindowExW(0, kind, platform::Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                             0, 0, 0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             instance, nullptr);
  };
  BitBtn1 = control(L"BUTTON", design::kButtonText, WS_TABSTOP | BS_PUSHBUTTON, kBitBtn1);
  Label1 = control(L"STATIC", design::kLabel1Text, kLabelStyle, 0);
  Label2 = control(L"STATIC", design::kLabel2Text, kLabelStyle, 0);

  // Where it was designed, at the display's scale.
  const UINT dpi = DpiOf(window_);
  const Scale scale{dpi};
  const SIZE frame = FrameFor({scale(kWindow.width), scale(kWindow.height)}, dpi);
  // Moved just enough to fit where the screen's work area is smaller.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  Rect place{scale(kWindow.left), scale(kWindow.top), frame.cx, frame.cy};
  const POINT corner{place.left, place.top};
  if (::GetMonitorInfoW(::MonitorFromPoint(corner, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    place = FitInto(place, {work.left, work.top, work.right - work.left, work.bottom - work.top});
  }
  ::SetWindowPos(window_, nullptr, place.left, place.top, frame.cx, frame.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ApplyDpi(dpi);
  ::DragAcceptFiles(window_, TRUE);
  FormCreate();
}

TForm1::~TForm1() {
  if (::IsWindow(window_)) {
    // Gone with its owner, not closed by the user: the message loop goes on.
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
  ::DeleteObject(font_);
}

void TForm1::FormCreate() {
  auto known = [](REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &path))) folder = platform::Utf8(path);
    ::CoTaskMemFree(path);
    return folder;
  };
  ui_->SetStartFolder(platform::Wide(DialogStartFolder(
      platform::SystemFiles(), platform::Utf8(FolderOf(ExecutablePath())),
      {known(FOLDERID_ProgramFiles), known(FOLDERID_ProgramFilesX86)}, known(FOLDERID_Documents))));
}

void TForm1::ApplyDpi(UINT dpi) {
  scale_ = Scale{dpi};
  ui_->SetScale(scale_);
  const HFONT old = font_;
  FitFont();
  const std::pair<HWND, Rect> places[] = {
      {BitBtn1, design::kButton}, {Label1, design::kLabel1}, {Label2, design::kLabel2}};
  for (const auto& [control, p] : places) {
    ::SetWindowPos(control, nullptr, scale_(p.left), scale_(p.top), scale_(p.width),
                   scale_(p.height), SWP_NOZORDER | SWP_NOACTIVATE);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  }
  if (old != nullptr) ::DeleteObject(old);
}

// The designed font, at the size the design's rule finds for this system's
// stand-in (Wine's is wider).
void TForm1::FitFont() {
  const HDC dc = ::GetDC(window_);
  const auto make = [&](int pixels) {
    return ::CreateFontW(-scale_(pixels), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, platform::Wide(design::kFontFace).c_str());
  };
  const int dpi = static_cast<int>(scale_.dpi);
  const int pixels = design::FittingFontPixels([&](const char* text, int size) {
    const HFONT font = make(size);
    const HGDIOBJ previous = ::SelectObject(dc, font);
    const std::wstring wide = platform::Wide(text);
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    ::SelectObject(dc, previous);
    ::DeleteObject(font);
    // In the design's units, at 96 dots per inch.
    return std::pair{::MulDiv(extent.cx, 96, dpi), ::MulDiv(extent.cy, 96, dpi)};
  });
  ::ReleaseDC(window_, dc);
  font_ = make(pixels);
  ui_->SetFont(font_);
}

void TForm1::Show(int show, std::vector<std::string> named) {
  ::ShowWindow(window_, show);
  ::SetFocus(BitBtn1);
  if (!named.empty()) {
    named_ = std::move(named);
    ::PostMessageW(window_, kConvertNamed, 0, 0);
  }
}

int TForm1::Run() {
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(window_, &message)) continue;  // Tab, Enter, Space
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}

template <class Work>
void TForm1::Guarded(Work work) {
  // A click or drop while a run shows its progress does nothing.
  if (running_) return;
  running_ = true;
  ReportingErrors(*ui_, work);
  running_ = false;
  ::SetFocus(BitBtn1);
}

void TForm1::BitBtn1Click() {
  Guarded([this] { RunConversion(*ui_, platform::SystemFiles()); });
}

void TForm1::ConvertNamed(const std::vector<std::string>& named, bool askFirst) {
  Guarded([&] { RunConversion(*ui_, platform::SystemFiles(), named, {.askFirst = askFirst}); });
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<TForm1*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr || form->BitBtn1 == nullptr) return ::DefWindowProcW(window, message, w, l);
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(w) == kBitBtn1 && HIWORD(w) == BN_CLICKED) {
        form->BitBtn1Click();
        return 0;
      }
      break;
    case DM_GETDEFID:  // Enter presses the button
      return MAKELRESULT(kBitBtn1, DC_HASDEFID);
    case WM_ACTIVATE:
      // Back from a box, the dialog or another program: the button is the
      // one control that takes the focus.
      if (LOWORD(w) != WA_INACTIVE) {
        ::SetFocus(form->BitBtn1);
        return 0;
      }
      break;
    case WM_SETFOCUS:
      ::SetFocus(form->BitBtn1);
      return 0;
    case WM_CTLCOLORSTATIC:
      return LabelColours(w);
    case WM_SETCURSOR:
      if (form->ui_->waiting()) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_DROPFILES:
      form->ConvertNamed(DroppedFiles(reinterpret_cast<HDROP>(w)));
      return 0;
    case kConvertNamed:
      form->ConvertNamed(std::exchange(form->named_, {}), true);
      return 0;
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(l);
      ::SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      form->ApplyDpi(HIWORD(w));
      return 0;
    }
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, w, l);
}

}  // namespace kvo::win32
