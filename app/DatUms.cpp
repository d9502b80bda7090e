#include "DatUms.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

#include "ConversionRun.h"
#include "Interrupts.h"
#include "Messages.h"

namespace kvo {

namespace {

QString Title() {
  return QString::fromStdString(ApplicationTitle(
      QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString()));
}

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const std::string& text) {
  QMessageBox box(icon, Title(), QString::fromStdString(text), QMessageBox::Ok, parent);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
}

}  // namespace

void TForm1::FitFont() {
  // "MS Sans Serif", 11 pixels high, as designed. Where it is missing its
  // stand-in is a little wider, so it shrinks until every text shows whole in
  // its control: a cut label ("... und späte") would read wrong.
  QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "Arial"});
  QFont font("MS Sans Serif");
  font.setPixelSize(11);
  auto fits = [&] {
    const QFontMetrics metrics(font);
    const int buttonFrame = 12;
    return metrics.horizontalAdvance(BitBtn1->text()) + buttonFrame <= BitBtn1->width() &&
           metrics.horizontalAdvance(Label1->text()) <= Label1->width() &&
           metrics.horizontalAdvance(Label2->text()) <= Label2->width() &&
           metrics.height() <= Label1->height();
  };
  while (!fits() && font.pixelSize() > 6) font.setPixelSize(font.pixelSize() - 1);
  setFont(font);
}

TForm1::TForm1(UserInterface* ui, platform::Files& files, TableSets* tables)
    : files_(files), tables_(tables) {
  setWindowTitle("Kvo-Umsetzer");
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);

  BitBtn1 = new QPushButton("Daten umsetzen", this);
  BitBtn1->setGeometry(48, 16, 185, 25);
  BitBtn1->setFocusPolicy(Qt::StrongFocus);
  Label1 = new QLabel("Von Version 1.0 vom 30.12.2007", this);
  Label1->setGeometry(61, 54, 155, 13);
  Label2 = new QLabel("Auf Version 1.1 vom 20.10.2009 und später", this);
  Label2->setGeometry(36, 72, 205, 13);
  for (QLabel* label : {Label1, Label2}) label->setFocusPolicy(Qt::NoFocus);

  FitFont();

  // The tool keeps nothing between runs: Qt's own dialog, whose history and
  // view settings go nowhere (a settings folder that cannot exist), rather
  // than a desktop dialog that keeps its own.
  for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
    QSettings::setPath(format, QSettings::UserScope, "/dev/null");
  }
  dlgOpen = new QFileDialog(this);
  dlgOpen->setOption(QFileDialog::DontUseNativeDialog);
  dlgOpen->setFileMode(QFileDialog::AnyFile);  // a typed name need not exist
  dlgOpen->setAcceptMode(QFileDialog::AcceptOpen);
  dlgOpen->setDefaultSuffix("dat");
  dlgOpen->setNameFilter("*.dat");
  dlgOpen->setSizeGripEnabled(true);

  if (ui == nullptr) {
    ownUi_ = std::make_unique<QtUserInterface>(this, dlgOpen);
    ui = ownUi_.get();
  }
  ui_ = ui;

  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  resize(268, 97);
  move(379, 601);
  BitBtn1->setFocus();
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
  dlgOpen->setDirectory(QCoreApplication::applicationDirPath());
}

void TForm1::BitBtn1Click() {
  // Nothing may escape into Qt's event loop: the run reports its own errors,
  // and anything else still ends in an error box with the window usable.
  try {
    RunConversion(*ui_, files_, {.tables = tables_});
    // Told to stop while converting: the file at hand is finished or rolled
    // back, and the program ends as the signal asked.
    if (const int signal = platform::InterruptSignal()) QCoreApplication::exit(128 + signal);
  } catch (const std::exception& e) {
    ui_->ShowError(ErrorBoxText(e.what()));
  } catch (...) {
    ui_->ShowError(ErrorBoxText(kOutputFailedText));
  }
}

std::optional<std::string> QtUserInterface::ChooseFile() {
  // The dialog keeps its folder and selection, so a later run offers the
  // path chosen before.
  if (dialog_->exec() != QDialog::Accepted || dialog_->selectedFiles().isEmpty()) {
    return std::nullopt;
  }
  const QString path = dialog_->selectedFiles().constFirst();
  dialog_->selectFile(path);
  return QFile::encodeName(path).toStdString();
}

void QtUserInterface::ShowInformation(const std::string& text) {
  ShowBox(window_, QMessageBox::NoIcon, text);
}

void QtUserInterface::ShowError(const std::string& text) {
  ShowBox(window_, QMessageBox::Critical, text);
}

void QtUserInterface::BeginWait() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtUserInterface::EndWait() {
  QApplication::restoreOverrideCursor();
}

}  // namespace kvo
