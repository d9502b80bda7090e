#include "DatUms.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTranslator>
#include <QVBoxLayout>

#include "FileList.h"
#include "Interrupts.h"
#include "Messages.h"
#include "Placement.h"
#include "Run.h"
#include "Summary.h"

namespace kvo {

namespace {

QString Title() {
  return QString::fromStdString(ApplicationTitle(
      QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString()));
}

// The window is a window to a screen reader too (a plain widget is a
// "filler" there): a frame, named by its title.
QAccessibleInterface* FormAccessible(const QString&, QObject* object) {
  auto* form = dynamic_cast<TForm1*>(object);
  return form ? new QAccessibleWidget(form, QAccessible::Window) : nullptr;
}

// The summary of several files: the counts, and a list that scrolls of the
// files not converted with their messages, each wrapped to the list's width
// so that no reason hides behind a scrollbar.
class SummaryBox : public QDialog {
 public:
  SummaryBox(QWidget* parent, const QString& text, const FailureListing& failures, bool offerUndo)
      : QDialog(parent) {
    setWindowTitle(Title());
    auto* layout = new QVBoxLayout(this);
    auto* said = new QLabel(text, this);
    said->setAccessibleName(text);
    layout->addWidget(said);
    if (!failures.entries.empty()) {
      const QString heading = QString::fromStdString(failures.heading);
      auto* named = new QLabel(heading, this);
      named->setWordWrap(true);
      layout->addWidget(named);
      auto* list = new QPlainTextEdit(QString::fromStdString(failures.entries), this);
      named->setBuddy(list);
      list->setAccessibleName(heading);
      list->setReadOnly(true);
      list->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      list->setMinimumSize(480, 160);
      layout->addWidget(list);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    if (offerUndo) {
      QPushButton* undo =
          buttons->addButton(QString::fromUtf8(kUndoButtonText), QDialogButtonBox::ActionRole);
      connect(undo, &QPushButton::clicked, this, [this] {
        undoChosen = true;
        accept();
      });
    }
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Ok)->setFocus();
  }
  bool undoChosen = false;
};

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const std::string& text) {
  QMessageBox box(icon, Title(), QString::fromStdString(text), QMessageBox::Ok, parent);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
}

}  // namespace

bool UseGermanQtTexts(QCoreApplication& app) {
  static QTranslator translator;  // lives as long as the application
  if (!translator.load("qtbase_de", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  app.installTranslator(&translator);
  return true;
}

void TForm1::FitFont() {
  // Where the designed font is missing, its stand-in.
  QFont::insertSubstitutions(design::kFontFace, {"Liberation Sans", "Arial"});
  QFont font(design::kFontFace);
  font.setPixelSize(design::FittingFontPixels([&](const char* text, int pixels) {
    font.setPixelSize(pixels);
    const QFontMetrics metrics(font);
    return std::pair{metrics.horizontalAdvance(QString::fromUtf8(text)), metrics.height()};
  }));
  setFont(font);
}

TForm1::TForm1(UserInterface* ui, platform::Files& files, TableSets* tables)
    : files_(files), tables_(tables) {
  setWindowTitle("Kvo-Umsetzer");
  static const bool accessible = [] {
    QAccessible::installFactory(&FormAccessible);
    return true;
  }();
  (void)accessible;
  // The desktop's own copy of the icon where it has one, else the program's.
  setWindowIcon(
      QIcon::fromTheme("de.kvoumsetzer.KvoUmsetzer", QIcon(":/de.kvoumsetzer.KvoUmsetzer.png")));
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);

  const auto place = [](QWidget* widget, const Rect& r) {
    widget->setGeometry(r.left, r.top, r.width, r.height);
  };
  BitBtn1 = new QPushButton(design::kButtonText, this);
  place(BitBtn1, design::kButton);
  BitBtn1->setFocusPolicy(Qt::StrongFocus);
  BitBtn1->setAutoDefault(true);  // Enter presses it, as Space does
  Label1 = new QLabel(design::kLabel1Text, this);
  place(Label1, design::kLabel1);
  Label2 = new QLabel(design::kLabel2Text, this);
  place(Label2, design::kLabel2);
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
  setAcceptDrops(true);
  resize(design::kWindow.width, design::kWindow.height);
  // Moved just enough to fit where the screen's work area is smaller. move()
  // places the frame, whose title bar counts to the window's height.
  const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight);
  const QRect work = screen()->availableGeometry();
  Rect frame = design::kWindow;
  frame.height += titleBar;
  const Rect fitted = FitInto(frame, {work.x(), work.y(), work.width(), work.height()});
  move(fitted.left, fitted.top);
  BitBtn1->setFocus();
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  // The title bar and borders are the window manager's: only now, with the
  // frame known, can the whole window be kept on the screen. Moved once,
  // so that the user may put it anywhere afterwards.
  if (fitted_ || !isVisible() || frameGeometry() == geometry()) return;
  fitted_ = true;
  const QRect frame = frameGeometry();
  const QRect work = screen()->availableGeometry();
  const Rect place = FitInto({frame.x(), frame.y(), frame.width(), frame.height()},
                             {work.x(), work.y(), work.width(), work.height()});
  if (place.left != frame.x() || place.top != frame.y()) move(place.left, place.top);
}

void TForm1::FormCreate() {
  const auto utf8 = [](const QString& path) { return QFile::encodeName(path).toStdString(); };
  QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!QFileInfo(documents).isDir()) documents = QDir::homePath();
  const std::string folder = DialogStartFolder(files_, utf8(QCoreApplication::applicationDirPath()),
                                               {"/usr", "/opt"}, utf8(documents));
  dlgOpen->setDirectory(QFile::decodeName(folder.c_str()));
}

template <class Work>
void TForm1::Guarded(Work work) {
  // The run answers events while it shows progress: a second click or drop
  // meanwhile waits for nothing and does nothing.
  if (running_) return;
  running_ = true;
  ReportingErrors(*ui_, work);
  running_ = false;
  // Back from the dialog or a box: the window is active and the button, its
  // one control that takes the focus, has it.
  activateWindow();
  BitBtn1->setFocus();
  // Told to stop while converting: the file at hand is finished or rolled
  // back, and the program ends as the signal asked.
  if (const int signal = platform::InterruptSignal()) QCoreApplication::exit(128 + signal);
}

void TForm1::BitBtn1Click() {
  Guarded([this] { RunConversion(*ui_, files_, {.tables = tables_}); });
}

void TForm1::ConvertNamed(const std::vector<std::string>& named, bool askFirst) {
  Guarded([&] { RunConversion(*ui_, files_, named, {.tables = tables_, .askFirst = askFirst}); });
}

namespace {

std::vector<std::string> LocalFiles(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  return paths;
}

}  // namespace

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!running_ && !LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const auto paths = LocalFiles(event->mimeData());
  if (paths.empty()) return;
  event->acceptProposedAction();
  ConvertNamed(paths);
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

bool QtUserInterface::ShowSummary(const std::vector<FileResult>& results, bool offerUndo) {
  SummaryBox box(window_, QString::fromStdString(SummaryText(results)), FailureList(results),
                 offerUndo);
  box.exec();
  return box.undoChosen;
}

void QtUserInterface::Progress(std::size_t done, std::size_t total, const std::string& current) {
  if (!progress.Begin(done, total, current)) {
    delete progress_;
    return;
  }
  ShowProgress();
}

void QtUserInterface::FileProgress(std::uint64_t done, std::uint64_t total) {
  progress.Within(done, total);
  ShowProgress();
}

void QtUserInterface::ShowProgress() {
  // Shown only for work of more than about a second, by files and within a
  // large file by its bytes.
  if (!progress_ && progress.Due()) {
    progress_ = new QProgressDialog(window_);
    progress_->setWindowTitle(Title());
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setCancelButtonText(QString::fromUtf8(kCancelButtonText));
    progress_->setMinimumDuration(0);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->show();
  }
  if (progress_) {
    progress_->setRange(0, progress.Range());
    progress_->setValue(progress.Position());
    progress_->setLabelText(QString::fromStdString(progress.Line(false)));
  }
  // The window repaints, and the cancel button must be heard; before it
  // shows, the window takes no input.
  QCoreApplication::processEvents(progress_ ? QEventLoop::AllEvents
                                            : QEventLoop::ExcludeUserInputEvents);
}

bool QtUserInterface::CancelRequested() {
  return progress_ && progress_->wasCanceled();
}

bool QtUserInterface::ConfirmStart(const std::string& question) {
  QMessageBox box(QMessageBox::Question, Title(), QString::fromStdString(question),
                  QMessageBox::NoButton, window_);
  QPushButton* convert =
      box.addButton(QString::fromUtf8(kConvertButtonText), QMessageBox::AcceptRole);
  box.addButton(QString::fromUtf8(kCancelButtonText), QMessageBox::RejectRole);
  box.setDefaultButton(convert);
  box.exec();
  return box.clickedButton() == convert;
}

void QtUserInterface::BeginWait() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtUserInterface::EndWait() {
  QApplication::restoreOverrideCursor();
}

}  // namespace kvo
