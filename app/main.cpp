#include <QApplication>

#include "DatUms.h"
#include "Interrupts.h"

int main(int argc, char* argv[]) {
  kvo::platform::InstallInterruptHandling();
  QApplication app(argc, argv);
  kvo::TForm1 form;
  form.show();
  return QApplication::exec();
}
