// The Windows program: the window, and the files dropped on the program.
#include <windows.h>

#include "DatUms.h"
#include "Utf8.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  // Files and folders dropped on the program arrive as its arguments.
  std::vector<std::string> named = kvo::platform::Arguments(0, nullptr);
  named.erase(named.begin());
  kvo::win32::TForm1 form(instance);
  form.Show(show, std::move(named));
  return form.Run();
}
