#include <QApplication>

#include "DatUms.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  kvo::TForm1 form;
  form.show();
  return QApplication::exec();
}
