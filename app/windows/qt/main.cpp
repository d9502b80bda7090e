#include <QApplication>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "DatUms.h"
#include "FileList.h"
#include "Interrupts.h"

int main(int argc, char* argv[]) {
  // Options are answered here, never taken for files. "--" ends them.
  const kvo::WindowStart start =
      kvo::ReadWindowArguments(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
  switch (start.action) {
    case kvo::WindowStart::Help:
    case kvo::WindowStart::Version: {
      const std::string text = kvo::TerminalText(start.text);
      std::printf("%s%s", text.c_str(), text.ends_with('\n') ? "" : "\n");
      return 0;
    }
    case kvo::WindowStart::Wrong:
      std::fprintf(stderr, "kvo-umsetzer: %s\nMehr mit: kvo-umsetzer --help\n", start.text.c_str());
      return 2;
    case kvo::WindowStart::Open:
      break;
  }
  kvo::platform::InstallInterruptHandling();
  QApplication app(argc, argv);
  kvo::UseGermanQtTexts(app);
  QGuiApplication::setDesktopFileName("de.kvoumsetzer.KvoUmsetzer");
  kvo::TForm1 form;
  form.show();
  // Files and folders given to the program (dropped on it, or opened with it
  // from the desktop) are converted as soon as the window is up.
  const std::vector<std::string>& named = start.named;
  if (!named.empty()) {
    QMetaObject::invokeMethod(
        &form, [&form, named] { form.ConvertNamed(named, true); }, Qt::QueuedConnection);
  }
  return QApplication::exec();
}
