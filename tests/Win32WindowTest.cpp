// The Windows window, under Wine with a display: its layout at several
// scales, its colours, the file dialog answered as a user would, the boxes,
// drops, the keyboard, and the focus after each box.
#include <windows.h>
// windows.h first
#include <oleacc.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <memory>

#include "Container.h"
#include "DatUms.h"
#include "Messages.h"
#include "Paths.h"
#include "Run.h"
#include "Summary.h"
#include "Utf8.h"
#include "support/DatFile.h"
#include "support/Scenario.h"
#include "support/TempDir.h"

namespace kvo {
namespace {

using win32::TForm1;

// The file-open dialog's name field (cmb13), and the text of a message box.
constexpr int kFileNameField = 0x47c;
constexpr int kMessageBoxText = 0xFFFF;

std::wstring TextOf(HWND window) {
  std::wstring text(::GetWindowTextLengthW(window) + 1, L'\0');
  text.resize(::GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

// What a screen reader is told a control is called (Microsoft Active
// Accessibility, as the system makes it for standard controls).
std::wstring AccessibleName(HWND control) {
  IAccessible* object = nullptr;
  if (FAILED(::AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT),
                                          __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object)))) {
    return L"(no accessible object)";
  }
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::wstring said = SUCCEEDED(object->get_accName(self, &name)) && name ? name : L"(no name)";
  ::SysFreeString(name);
  object->Release();
  return said;
}

RECT PlaceIn(HWND control, HWND parent) {
  RECT r{};
  ::GetWindowRect(control, &r);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Answers whatever comes up in this thread as a user would: a timer of the
// thread runs inside every modal loop, and looks for the dialog or a box.
class User {
 public:
  // The next dialog is answered with this path, or cancelled when empty.
  std::wstring answer;
  std::vector<std::wstring> boxes;  // what each box said
  bool waitingInDialog = false, waitingInBox = false;
  bool undo = false;                 // a summary that offers to undo is closed by that button
  bool decline = false;              // a box is closed by Escape
  std::vector<std::wstring> firsts;  // each box's default button
  HWND focusAfterBox = nullptr;
  int answered = 0;

  explicit User(TForm1& form) : form_(form) {
    current_ = this;
    timer_ = ::SetTimer(nullptr, 0, 10, &User::Tick);
  }
  ~User() {
    ::KillTimer(nullptr, timer_);
    current_ = nullptr;
  }

  // Runs the window's messages as its loop does until n more things have
  // been answered and everything has settled.
  void Until(int n) {
    const int goal = answered + n;
    MSG message;
    while (answered<goal&& ::GetMessageW(&message, nullptr, 0, 0)> 0) Dispatch(message);
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) Dispatch(message);
  }

 private:
  void Dispatch(MSG& message) {
    if (::IsDialogMessageW(form_.window(), &message)) return;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }

  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (current_ != nullptr) {
      ::EnumThreadWindows(::GetCurrentThreadId(), &User::Visit, 0);
    }
  }

  static BOOL CALLBACK Visit(HWND window, LPARAM) {
    if (!::IsWindowVisible(window) || !::IsWindowEnabled(window)) return TRUE;
    User& user = *current_;
    const std::wstring kind = ClassOf(window);
    if (kind == L"#32770" && ::GetDlgItem(window, kFileNameField) != nullptr) {
      user.waitingInDialog = user.form_.ui().waiting();
      if (user.answer.empty()) {
        ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
      } else {
        ::SetDlgItemTextW(window, kFileNameField, user.answer.c_str());
        ::PostMessageW(window, WM_COMMAND, IDOK, 0);
      }
      ++user.answered;
      return FALSE;
    }
    const HWND text = ::GetDlgItem(window, kind == L"KvoSummary" ? 20 : kMessageBoxText);
    if ((kind == L"#32770" || kind == L"KvoSummary") && text != nullptr) {
      // "(?) " for the system's question mark beside the text; the list
      // after its heading.
      const HWND icon = ::GetDlgItem(window, 24);
      std::wstring said = icon && ::SendMessageW(icon, STM_GETICON, 0, 0) ? L"(?) " : L"";
      said += TextOf(text);
      if (const HWND heading = ::GetDlgItem(window, 23)) said += L"\r\n" + TextOf(heading);
      if (const HWND list = ::GetDlgItem(window, 21)) {
        said += L"\r\n" + TextOf(list);
        // The list is named by the heading just before it.
        EXPECT_EQ(AccessibleName(list), TextOf(::GetDlgItem(window, 23)));
      }
      user.boxes.push_back(said);
      user.waitingInBox = user.form_.ui().waiting();
      const HWND offer = ::GetDlgItem(window, 22);
      if (offer != nullptr) {
        EXPECT_EQ(TextOf(offer), platform::Wide(kUndoButtonText));
        EXPECT_EQ(AccessibleName(offer), TextOf(offer));
      }
      if (const HWND first = ::GetDlgItem(window, IDOK); first && kind == L"KvoSummary") {
        EXPECT_TRUE(::GetWindowLongW(first, GWL_STYLE) & BS_DEFPUSHBUTTON);
        user.firsts.push_back(TextOf(first));
      }
      ::PostMessageW(window, WM_COMMAND,
                     user.decline                    ? IDCANCEL
                     : user.undo && offer != nullptr ? 22
                                                     : IDOK,
                     0);
      ++user.answered;
      return FALSE;
    }
    return TRUE;
  }

  TForm1& form_;
  UINT_PTR timer_;
  static inline User* current_ = nullptr;
};

class Win32Window : public testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<TForm1>(::GetModuleHandleW(nullptr));
    ASSERT_NE(form->window(), nullptr) << "no display: run the tests under xvfb-run";
    form->Show(SW_SHOWNORMAL);
    ::SetForegroundWindow(form->window());
  }
  std::unique_ptr<TForm1> form;
};

TEST_F(Win32Window, IsLaidOutAsDesignedAtEveryScale) {
  EXPECT_EQ(TextOf(form->window()), L"Kvo-Umsetzer");
  RECT outer{};
  ::GetWindowRect(form->window(), &outer);
  EXPECT_EQ(outer.left, 379);
  EXPECT_EQ(outer.top, 601);
  EXPECT_EQ(::GetFocus(), form->BitBtn1);

  struct Control {
    HWND window;
    const wchar_t* text;
    RECT place;  // left, top, width, height as designed
    int frame;   // what the control's border takes of its width
  };
  const Control controls[] = {
      {form->BitBtn1, L"Daten umsetzen", {48, 16, 185, 25}, 12},
      {form->Label1, L"Von Version 1.0 vom 30.12.2007", {61, 54, 155, 13}, 0},
      {form->Label2, L"Auf Version 1.1 vom 20.10.2009 und später", {36, 72, 205, 13}, 0},
  };
  for (const UINT dpi : {96u, 120u, 144u, 192u}) {
    SCOPED_TRACE(testing::Message() << dpi << " dpi");
    form->ApplyDpi(dpi);
    const win32::Scale scale{dpi};
    const HDC dc = ::GetDC(form->window());
    const HGDIOBJ previous = ::SelectObject(dc, form->font());
    for (const Control& c : controls) {
      EXPECT_EQ(TextOf(c.window), c.text);
      const RECT r = PlaceIn(c.window, form->window());
      EXPECT_EQ(r.left, scale(c.place.left));
      EXPECT_EQ(r.top, scale(c.place.top));
      EXPECT_EQ(r.right - r.left, scale(c.place.right));
      EXPECT_EQ(r.bottom - r.top, scale(c.place.bottom));
      SIZE size{};
      ::GetTextExtentPoint32W(dc, c.text, static_cast<int>(std::wcslen(c.text)), &size);
      EXPECT_LE(size.cx, r.right - r.left - scale(c.frame)) << "the text is cut";
      EXPECT_LE(size.cy, scale(13));
      EXPECT_GE(size.cy, scale(10)) << "the text is too small to read";
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(form->window(), dc);
  }
  form->ApplyDpi(96);
  // A screen reader says what the user reads.
  for (const Control& c : controls) EXPECT_EQ(AccessibleName(c.window), c.text);
  RECT client{};
  ::GetClientRect(form->window(), &client);
  EXPECT_EQ(client.right, 268);
  EXPECT_EQ(client.bottom, 97);
}

TEST_F(Win32Window, LabelsTakeTheSchemesColours) {
  const HDC dc = ::CreateCompatibleDC(nullptr);
  const auto brush = reinterpret_cast<HBRUSH>(
      ::SendMessageW(form->window(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(form->Label1)));
  EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_WINDOWTEXT));
  EXPECT_EQ(::GetBkColor(dc), ::GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(brush, ::GetSysColorBrush(COLOR_BTNFACE));
  ::DeleteDC(dc);
}

// The button pressed by mouse, Space and Enter; the dialog answered or
// cancelled; each box read and closed. The cursor is normal in the dialog
// and at the box, and the button has the focus after each.
TEST_F(Win32Window, TheButtonRunsAConversionAndGetsTheFocusBack) {
  test::TempDir dir;
  dir.Put("a.dat", test::SmallFile());
  dir.Put("c.dat", test::SmallFile());
  dir.Put("c.old", {'x'});
  struct Step {
    const char* press;
    std::string chosen;  // "" cancels the dialog
    std::wstring box;    // "" when none comes
  };
  const Step steps[] = {
      {"click", "", L""},
      {"space", "a.dat", platform::Wide(kSuccessText)},
      {"enter", "a.dat", L"Falsche Dateiversion\nDie Datei hat schon Version 1.1."},
      {"click", "c.dat",
       L"Kann Backup Datei nicht erzeugen.\nc.old gibt es schon. Die Datei ist unverändert."},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << step.press << " " << step.chosen);
    User user(*form);
    user.answer = step.chosen.empty() ? L"" : platform::Wide(dir.Path(step.chosen));
    ::SetFocus(form->BitBtn1);
    if (std::string(step.press) == "click") {
      ::PostMessageW(form->BitBtn1, BM_CLICK, 0, 0);
    } else {
      const WPARAM key = std::string(step.press) == "space" ? VK_SPACE : VK_RETURN;
      ::PostMessageW(form->BitBtn1, WM_KEYDOWN, key, 1);
      ::PostMessageW(form->BitBtn1, WM_KEYUP, key, 0xC0000001);
    }
    user.Until(step.box.empty() ? 1 : 2);
    EXPECT_EQ(user.boxes,
              step.box.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{step.box});
    EXPECT_FALSE(user.waitingInDialog) << "a busy cursor over the dialog";
    EXPECT_FALSE(user.waitingInBox);
    EXPECT_FALSE(form->ui().waiting());
    EXPECT_EQ(::GetFocus(), form->BitBtn1);
  }
  EXPECT_TRUE(dir.Has("a.old"));
  EXPECT_EQ(dir.Get("c.old"), std::vector<std::uint8_t>{'x'});
}

HGLOBAL DropOf(const std::vector<std::wstring>& paths) {
  std::size_t chars = 1;
  for (const auto& p : paths) chars += p.size() + 1;
  const HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  auto* names = reinterpret_cast<wchar_t*>(drop + 1);
  for (const auto& p : paths) {
    std::wmemcpy(names, p.c_str(), p.size() + 1);
    names += p.size() + 1;
  }
  ::GlobalUnlock(memory);
  return memory;
}

// Dropped on the window: one file gives its own box, a folder and a file one
// summary with the failures listed, which can undo what it converted.
TEST_F(Win32Window, DroppedFilesAndFoldersAreConverted) {
  test::TempDir dir;
  std::filesystem::create_directory(test::FromUtf8(dir.Path("Ordner")));
  for (const char* name : {"a.dat", "Ordner/b.dat", "Ordner/c.dat"})
    dir.Put(name, test::SmallFile());
  dir.Put("Ordner/c.old", {'x'});
  User user(*form);
  ::PostMessageW(form->window(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(DropOf({platform::Wide(dir.Path("a.dat"))})), 0);
  user.Until(1);
  ::PostMessageW(form->window(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(DropOf(
                     {platform::Wide(dir.Path("Ordner")), platform::Wide(dir.Path("fehlt.dat"))})),
                 0);
  user.undo = true;
  user.Until(2);
  ASSERT_EQ(user.boxes.size(), 3u);
  EXPECT_EQ(user.boxes[0], platform::Wide(kSuccessText));
  // Names below the folder they share, each marked, as a reader sorts them.
  EXPECT_EQ(user.boxes[1], platform::Wide("1 Datei umgesetzt, die alte hat nun die Endung .old.\r\n"
                                          "2 Dateien nicht umgesetzt:\r\n"
                                          "Meldungen zu einzelnen Dateien im Ordner " +
                                          platform::FolderOf(dir.Path("fehlt.dat")) +
                                          ":\r\n• fehlt.dat: Falsche Dateiversion (Datei nicht "
                                          "gefunden)\r\n"
                                          "• Ordner\\c.dat: Kann Backup Datei nicht erzeugen "
                                          "(c.old gibt es schon. Die Datei ist unverändert)\r\n"));
  EXPECT_EQ(user.boxes[2],
            platform::Wide("1 Datei rückgängig gemacht, sie hat wieder Version 1.0."));
  EXPECT_FALSE(dir.Has("Ordner/b.old"));
  EXPECT_EQ(dir.Get("Ordner/b.dat"), test::SmallFile());
  EXPECT_EQ(::GetFocus(), form->BitBtn1);
}

// Started with a file (a double-click, "Senden an"), the window asks once,
// naming it, with "Daten umsetzen" first: declined, nothing happens;
// answered, the file is converted. A drop converts at once.
TEST_F(Win32Window, AStartWithFilesAsksOnce) {
  test::TempDir dir;
  dir.Put("Nord.dat", test::SmallFile());
  dir.Put("Süd.dat", test::SmallFile());
  const std::wstring question = platform::Wide("(?) „Nord.dat“ umsetzen?\r\nIm Ordner " +
                                               dir.Path("").substr(0, dir.Path("").size() - 1));
  User user(*form);
  user.decline = true;
  form->Show(SW_SHOWNORMAL, {dir.Path("Nord.dat")});
  user.Until(1);
  EXPECT_EQ(user.boxes, std::vector<std::wstring>{question});
  EXPECT_FALSE(dir.Has("Nord.old"));
  user.decline = false;
  form->Show(SW_SHOWNORMAL, {dir.Path("Nord.dat")});
  user.Until(2);
  ::PostMessageW(form->window(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(DropOf({platform::Wide(dir.Path("Süd.dat"))})), 0);
  user.Until(1);
  EXPECT_EQ(user.boxes, (std::vector<std::wstring>{question, question, platform::Wide(kSuccessText),
                                                   platform::Wide(kSuccessText)}));
  EXPECT_EQ(user.firsts, (std::vector<std::wstring>{L"Daten umsetzen", L"Daten umsetzen"}));
  EXPECT_TRUE(dir.Has("Nord.old"));
  EXPECT_TRUE(dir.Has("Süd.old"));
}

// Every conversion of the table of scenarios through the window: each file's
// line and the counts as the command line has them, the disk as the row
// says, and the box that shows them.
TEST_F(Win32Window, EveryConvertingRowEndsInItsBox) {
  int ran = 0, marked = 0, options = 0;
  for (const test::Scenario& row : test::ReadScenarios(KVO_SCENARIOS)) {
    if (row.notOn.contains("win32")) {
      ++marked;
      continue;
    }
    if (std::ranges::any_of(row.run, [](const std::string& a) { return a.starts_with('-'); })) {
      ++options;  // the command line's
      continue;
    }
    SCOPED_TRACE("row \"" + row.name + "\", scenarios.txt:" + std::to_string(row.line));
    test::TempDir dir;
    const std::string folder = dir.Path("w");
    std::filesystem::create_directory(test::FromUtf8(folder));
    test::Build(folder, row.files);
    test::RowUi ui(form->ui(), row, folder);
    std::vector<std::string> named;
    for (const std::string& arg : row.run) named.push_back(folder + "\\" + arg);
    User user(*form);
    const auto results = RunConversion(ui, platform::SystemFiles(), named);
    EXPECT_EQ(ui.fired, row.at.has_value());
    EXPECT_EQ(test::Mismatches(row, results, folder, false), std::vector<std::string>{});
    ASSERT_EQ(user.boxes.size(), 1u);
    std::wstring shown = user.boxes.front();
    for (auto at = shown.find(L"\r\n"); at != std::wstring::npos; at = shown.find(L"\r\n")) {
      shown.erase(at, 1);
    }
    if (named.size() == 1 && results.size() == 1 && !results.front().inFolder) {
      EXPECT_EQ(shown, platform::Wide(BoxText(results.front())));
    } else {
      EXPECT_TRUE(shown.starts_with(platform::Wide(SummaryText(results))));
      for (const FileResult& r : results) {
        if (IsProblem(r)) {
          EXPECT_NE(shown.find(platform::Wide(Explained(r))), std::wstring::npos);
        }
      }
    }
    ++ran;
  }
  std::printf("win32: %d rows run, %d marked as not to be produced here, %d the command line's\n",
              ran, marked, options);
  EXPECT_GT(ran, 0);
}

}  // namespace
}  // namespace kvo
