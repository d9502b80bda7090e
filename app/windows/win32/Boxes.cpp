// What the Windows window shows besides itself: the file dialog, the message
// boxes, the summary of several files and the progress of a long run.
#include <windows.h>
// windows.h first
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <climits>

#include "DatUms.h"
#include "Messages.h"
#include "Placement.h"
#include "Summary.h"
#include "Utf8.h"

namespace kvo::win32 {
namespace {

constexpr int kProgressText = 10;
constexpr int kProgressBar = 11;
constexpr int kSummaryText = 20;
constexpr int kSummaryList = 21;
constexpr int kSummaryUndo = 22;
constexpr int kSummaryHeading = 23;
constexpr int kSummaryIcon = 24;
// Set on the owner while a box is closed: the button chosen.
constexpr const wchar_t* kChosen = L"KvoChosen";

// Lines for controls, which break on "\r\n".
std::wstring WindowsLines(const std::string& text) {
  std::wstring out;
  for (const wchar_t c : platform::Wide(text)) {
    if (c == L'\n') out += L'\r';
    out += c;
  }
  return out;
}

HWND Child(HWND parent, const wchar_t* kind, const std::wstring& text, DWORD style, RECT r, int id,
           HFONT font) {
  const HWND child = ::CreateWindowExW(
      kind == std::wstring(L"EDIT") ? WS_EX_CLIENTEDGE : 0, kind, text.c_str(),
      WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return child;
}

// A popup owned by the window, of the given client size, centred over it.
HWND Popup(const wchar_t* windowClass, WNDPROC procedure, HWND owner, SIZE client, void* self) {
  WNDCLASSEXW c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = procedure;
  c.hInstance = ::GetModuleHandleW(nullptr);
  c.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  c.lpszClassName = windowClass;
  ::RegisterClassExW(&c);  // fails harmlessly once registered

  constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT frame{0, 0, client.cx, client.cy};
  ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
  RECT ownerRect{};
  ::GetWindowRect(owner, &ownerRect);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const Rect over{ownerRect.left, ownerRect.top, ownerRect.right - ownerRect.left,
                  ownerRect.bottom - ownerRect.top};
  // Over the window, and whole on the screen the window is on.
  Rect area{INT_MIN / 2, INT_MIN / 2, INT_MAX, INT_MAX};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    area = {work.left, work.top, work.right - work.left, work.bottom - work.top};
  }
  const Rect place = CentredOver(over, width, height, area);
  return ::CreateWindowExW(WS_EX_DLGMODALFRAME, windowClass, Title().c_str(), style, place.left,
                           place.top, width, height, owner, nullptr, c.hInstance, self);
}

template <class T>
T* Self(HWND window, UINT message, LPARAM l) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  return reinterpret_cast<T*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Closed by a button, Enter (the first), Escape or its close button (both
// IDCANCEL).
LRESULT CALLBACK BoxProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(w) == BN_CLICKED || LOWORD(w) == IDCANCEL) {
        ::SetPropW(::GetWindow(window, GW_OWNER), kChosen,
                   reinterpret_cast<HANDLE>(static_cast<INT_PTR>(LOWORD(w))));
        ::PostMessageW(window, WM_CLOSE, 0, 0);
      }
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_CTLCOLORSTATIC:
      return LabelColours(w);
    case WM_CLOSE:
      // The owner first, so that it, not another program, is activated.
      ::EnableWindow(::GetWindow(window, GW_OWNER), TRUE);
      ::DestroyWindow(window);
      return 0;
    default:
      return ::DefWindowProcW(window, message, w, l);
  }
}

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  auto* ui = Self<Win32UserInterface>(window, message, l);
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(w) == IDCANCEL) {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
      }
      break;
    case WM_CLOSE:  // cancels; the run closes the window when it stops
      if (ui != nullptr) ui->RequestCancel();
      ::EnableWindow(::GetDlgItem(window, IDCANCEL), FALSE);
      return 0;
    case WM_SETCURSOR:
      ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return LabelColours(w);
    default:
      break;
  }
  return ::DefWindowProcW(window, message, w, l);
}

}  // namespace

std::optional<std::string> Win32UserInterface::ChooseFile() {
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

void Win32UserInterface::ShowInformation(const std::string& text) {
  ::MessageBoxW(window_, platform::Wide(text).c_str(), Title().c_str(), MB_OK);
}

void Win32UserInterface::ShowError(const std::string& text) {
  ::MessageBoxW(window_, platform::Wide(text).c_str(), Title().c_str(), MB_OK | MB_ICONSTOP);
}

int Win32UserInterface::Box(const std::string& said, const FailureListing& list,
                            const std::vector<Button>& buttons, const wchar_t* icon) {
  const std::wstring text = WindowsLines(said);
  const std::wstring heading = WindowsLines(list.heading);
  const std::wstring listed = WindowsLines(list.entries);

  // The system's icon at the left; as high as the text, and below it the
  // list's heading and the list, which scrolls.
  const int margin = scale_(12), width = scale_(440), buttonHeight = scale_(25);
  const int iconSize = icon ? ::GetSystemMetrics(SM_CXICON) : 0;
  const int textLeft = margin + (icon ? iconSize + margin : 0);
  const auto height = [&](const std::wstring& s, int left) {
    RECT r{0, 0, width - margin - left, 0};
    const HDC dc = ::GetDC(window_);
    const HGDIOBJ previous = ::SelectObject(dc, font_);
    ::DrawTextW(dc, s.c_str(), -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(dc, previous);
    ::ReleaseDC(window_, dc);
    return static_cast<int>(r.bottom);
  };
  const int listHeight = listed.empty() ? 0 : scale_(170);
  int y = margin;
  const RECT textPlace{textLeft, y, width - margin, y + std::max(height(text, textLeft), iconSize)};
  y = textPlace.bottom + margin;
  const RECT headingPlace{margin, y, width - margin,
                          y + (listHeight ? height(heading, margin) : 0)};
  if (listHeight > 0) y = headingPlace.bottom + scale_(4);
  const RECT listPlace{margin, y, width - margin, y + listHeight};
  if (listHeight > 0) y = listPlace.bottom + margin;

  const HWND box =
      Popup(L"KvoSummary", &BoxProc, window_, {width, y + buttonHeight + margin}, nullptr);
  if (icon) {
    const HWND shown =
        Child(box, L"STATIC", L"", SS_ICON, {margin, margin, margin + iconSize, margin + iconSize},
              kSummaryIcon, font_);
    ::SendMessageW(shown, STM_SETICON, reinterpret_cast<WPARAM>(::LoadIconW(nullptr, icon)), 0);
  }
  Child(box, L"STATIC", text, SS_LEFT | SS_NOPREFIX, textPlace, kSummaryText, font_);
  if (listHeight > 0) {
    // The heading just before the list in the order of controls: a screen
    // reader takes it for the list's name.
    Child(box, L"STATIC", heading, SS_LEFT | SS_NOPREFIX, headingPlace, kSummaryHeading, font_);
    Child(box, L"EDIT", listed,
          // Long lines wrap: a cut reason reads wrong.
          WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY, listPlace, kSummaryList, font_);
  }
  // The buttons side by side in the middle; the first is the default.
  const int gap = scale_(8);
  int buttonsWidth = -gap;
  for (const Button& b : buttons) buttonsWidth += scale_(b.width) + gap;
  int left = (width - buttonsWidth) / 2;
  HWND first = nullptr;
  for (const Button& b : buttons) {
    const RECT place{left, y, left + scale_(b.width), y + buttonHeight};
    const HWND button =
        Child(box, L"BUTTON", platform::Wide(b.text),
              WS_TABSTOP | (first ? BS_PUSHBUTTON : BS_DEFPUSHBUTTON), place, b.id, font_);
    if (first == nullptr) first = button;
    left = place.right + gap;
  }
  ::RemovePropW(window_, kChosen);

  // Modal: the window waits until the box is closed.
  ::EnableWindow(window_, FALSE);
  ::ShowWindow(box, SW_SHOW);
  ::SetFocus(first);
  MSG message;
  while (::IsWindow(box) && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(box, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (message.message == WM_QUIT) ::PostQuitMessage(static_cast<int>(message.wParam));
  ::EnableWindow(window_, TRUE);
  return static_cast<int>(reinterpret_cast<INT_PTR>(::RemovePropW(window_, kChosen)));
}

bool Win32UserInterface::ShowSummary(const std::vector<FileResult>& results, bool offerUndo) {
  EndProgress();
  std::vector<Button> buttons{{"OK", IDOK, 88}};
  if (offerUndo) buttons.push_back({kUndoButtonText, kSummaryUndo, 140});
  return Box(SummaryText(results), FailureList(results), buttons) == kSummaryUndo;
}

bool Win32UserInterface::ConfirmStart(const std::string& question) {
  return Box(question, {}, {{kConvertButtonText, IDOK, 120}, {kCancelButtonText, IDCANCEL, 88}},
             IDI_QUESTION) == IDOK;
}

void Win32UserInterface::BeginWait() {
  waiting_ = true;
  ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
}

void Win32UserInterface::EndWait() {
  waiting_ = false;
  ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
}

void Win32UserInterface::Progress(std::size_t done, std::size_t total, const std::string& current) {
  if (done == 0) cancelled_ = false;
  if (!progress.Begin(done, total, current)) {
    EndProgress();
    return;
  }
  ShowProgress();
}

void Win32UserInterface::FileProgress(std::uint64_t done, std::uint64_t total) {
  progress.Within(done, total);
  ShowProgress();
}

void Win32UserInterface::ShowProgress() {
  if (progress_ == nullptr && progress.Due()) {
    // Shown only for work of more than about a second, by files and within
    // a large file by its bytes; the window waits meanwhile, as under a
    // dialog.
    static const bool controls = [] {
      INITCOMMONCONTROLSEX init{sizeof init, ICC_PROGRESS_CLASS};
      return ::InitCommonControlsEx(&init) != FALSE;
    }();
    (void)controls;
    const int margin = scale_(12), width = scale_(360);
    progress_ =
        Popup(L"KvoProgress", &ProgressProc, window_,
              {width, margin + scale_(16) + margin / 2 + scale_(18) + margin + scale_(25) + margin},
              this);
    int y = margin;
    Child(progress_, L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS,
          {margin, y, width - margin, y + scale_(16)}, kProgressText, font_);
    y += scale_(16) + margin / 2;
    Child(progress_, PROGRESS_CLASSW, L"", 0, {margin, y, width - margin, y + scale_(18)},
          kProgressBar, font_);
    y += scale_(18) + margin;
    Child(progress_, L"BUTTON", platform::Wide(kCancelButtonText), WS_TABSTOP | BS_PUSHBUTTON,
          {(width - scale_(88)) / 2, y, (width + scale_(88)) / 2, y + scale_(25)}, IDCANCEL, font_);
    ::EnableWindow(window_, FALSE);
    ::ShowWindow(progress_, SW_SHOW);
    ::SetFocus(::GetDlgItem(progress_, IDCANCEL));
  }
  if (progress_ != nullptr) {
    ::SetDlgItemTextW(progress_, kProgressText, platform::Wide(progress.Line(true)).c_str());
    ::SendDlgItemMessageW(progress_, kProgressBar, PBM_SETRANGE32, 0, progress.Range());
    ::SendDlgItemMessageW(progress_, kProgressBar, PBM_SETPOS, progress.Position(), 0);
  }
  // The window repaints; before the progress shows, input waits for after
  // the run, and once it shows the cancel button must be heard.
  MSG message;
  if (progress_ == nullptr) {
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT)) {
      ::DispatchMessageW(&message);
    }
    return;
  }
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      cancelled_ = true;
      break;
    }
    if (::IsDialogMessageW(progress_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

void Win32UserInterface::EndProgress() {
  if (progress_ == nullptr) return;
  ::EnableWindow(window_, TRUE);
  ::DestroyWindow(progress_);
  progress_ = nullptr;
}

}  // namespace kvo::win32
