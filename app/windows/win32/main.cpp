// The Windows program: the window, and the files dropped on the program.
#include <windows.h>

#include "DatUms.h"
#include "FileList.h"
#include "Utf8.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  // Files and folders dropped on the program arrive as its arguments; its
  // options are answered in a box, never taken for files.
  std::vector<std::string> arguments = kvo::platform::Arguments(0, nullptr);
  arguments.erase(arguments.begin());
  kvo::WindowStart start = kvo::ReadWindowArguments(arguments);
  if (start.action != kvo::WindowStart::Open) {
    const bool wrong = start.action == kvo::WindowStart::Wrong;
    const std::wstring text = kvo::platform::Wide(
        wrong ? "Kvo-Umsetzer: " + start.text + ".\n\n" + kvo::kWindowUsageText : start.text);
    ::MessageBoxW(nullptr, text.c_str(), L"Kvo-Umsetzer",
                  MB_OK | (wrong ? MB_ICONERROR : MB_ICONINFORMATION));
    return wrong ? 2 : 0;
  }
  kvo::win32::TForm1 form(instance);
  form.Show(show, std::move(start.named));
  return form.Run();
}
