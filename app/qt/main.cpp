#include <QApplication>
#include <QFile>
#include <cstdio>
#include <string>
#include <vector>

#include "DatUms.h"
#include "Interrupts.h"

namespace {

constexpr const char* kUsage =
    "Aufruf: kvo-umsetzer [DATEI|ORDNER...]\n"
    "Öffnet das Fenster, das Datendateien von Version 1.0 auf Version 1.1 umsetzt.\n"
    "Genannte Dateien und Ordner werden gleich umgesetzt, aus Ordnern alle Dateien\n"
    "mit der Endung .dat. Die alte Datei bleibt mit der Endung .old erhalten.\n"
    "\n"
    "  -h, --help  diese Hilfe zeigen\n"
    "  --version   die Version zeigen\n"
    "\n"
    "Dasselbe ohne Fenster: kvo-umsetzer-cli --help\n";

}  // namespace

int main(int argc, char* argv[]) {
  // Options are answered here, never taken for files. "--" ends them.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg == "--version") {
      std::printf("kvo-umsetzer %s\n", KVO_VERSION);
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "kvo-umsetzer: unbekannte Option %s\nMehr mit: kvo-umsetzer --help\n",
                   arg.c_str());
      return 2;
    }
  }
  kvo::platform::InstallInterruptHandling();
  QApplication app(argc, argv);
  kvo::UseGermanQtTexts(app);
  QGuiApplication::setDesktopFileName("de.kvoumsetzer.KvoUmsetzer");
  kvo::TForm1 form;
  form.show();
  // Files and folders given to the program (dropped on it, or opened with it
  // from the desktop) are converted as soon as the window is up.
  std::vector<std::string> named;
  for (const QString& argument : QCoreApplication::arguments().mid(1)) {
    if (named.empty() && argument == "--") continue;
    named.push_back(QFile::encodeName(argument).toStdString());
  }
  if (!named.empty()) {
    QMetaObject::invokeMethod(
        &form, [&form, named] { form.ConvertNamed(named); }, Qt::QueuedConnection);
  }
  return QApplication::exec();
}
