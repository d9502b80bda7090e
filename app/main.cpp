#include <QApplication>
#include <QFile>
#include <cstdio>
#include <string>
#include <vector>

#include "DatUms.h"
#include "Interrupts.h"

int main(int argc, char* argv[]) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("kvo-umsetzer %s\n", KVO_VERSION);
    return 0;
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
    named.push_back(QFile::encodeName(argument).toStdString());
  }
  if (!named.empty()) {
    QMetaObject::invokeMethod(
        &form, [&form, named] { form.ConvertNamed(named); }, Qt::QueuedConnection);
  }
  return QApplication::exec();
}
