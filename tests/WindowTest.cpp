// The window on Qt's offscreen platform: its layout, its texts, and a click
// that converts a file.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "Container.h"
#include "DatUms.h"
#include "Errors.h"
#include "Messages.h"
#include "Paths.h"
#include "Placement.h"
#include "Run.h"
#include "support/DatFile.h"
#include "support/FakeUi.h"
#include "support/Scenario.h"
#include "support/TempDir.h"

namespace kvo {
namespace {

TEST(Window, IsLaidOutAsDesigned) {
  TForm1 form(nullptr);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(form.windowTitle(), "Kvo-Umsetzer");
  // A window to a screen reader too.
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&form)->role(), QAccessible::Window);
  EXPECT_FALSE(form.windowIcon().pixmap(32).isNull()) << "no icon";
  EXPECT_EQ(form.pos(), QPoint(379, 601));
  EXPECT_EQ(form.size(), QSize(268, 97));  // the client area
  EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form.palette().color(QPalette::Window), form.palette().color(QPalette::Button));

  struct Control {
    QWidget* widget;
    QString text;
    QRect geometry;
  };
  const Control controls[] = {
      {form.BitBtn1, "Daten umsetzen", {48, 16, 185, 25}},
      {form.Label1, "Von Version 1.0 vom 30.12.2007", {61, 54, 155, 13}},
      {form.Label2, "Auf Version 1.1 vom 20.10.2009 und später", {36, 72, 205, 13}},
  };
  for (const Control& c : controls) {
    SCOPED_TRACE(c.text.toStdString());
    EXPECT_EQ(c.widget->geometry(), c.geometry);
    const QString shown =
        c.widget == form.BitBtn1 ? form.BitBtn1->text() : static_cast<QLabel*>(c.widget)->text();
    EXPECT_EQ(shown, c.text);
    // The whole text fits, with the button's frame taken off its width.
    const int room = c.geometry.width() - (c.widget == form.BitBtn1 ? 12 : 0);
    EXPECT_LE(QFontMetrics(c.widget->font()).horizontalAdvance(c.text), room)
        << "font " << QFontInfo(c.widget->font()).family().toStdString();
    EXPECT_LE(QFontMetrics(c.widget->font()).height(), c.geometry.height());
  }
  const QFontInfo font(form.font());
  EXPECT_TRUE(font.family() == "MS Sans Serif" || font.family() == "Liberation Sans")
      << font.family().toStdString();
  EXPECT_GE(font.pixelSize(), 10);
  EXPECT_EQ(form.focusWidget(), form.BitBtn1);
  EXPECT_EQ(form.Label1->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(form.Label2->focusPolicy(), Qt::NoFocus);
}

// On a screen too small for the designed place, the window moves just enough
// to show whole, title bar first; elsewhere it stays where it was designed.
TEST(Window, OpensWhereItFitsTheScreen) {
  struct Case {
    Rect area, expected;
  };
  const Rect designed{379, 571, 276, 131};  // frame and title bar included
  const Case cases[] = {
      {{0, 0, 1920, 1040}, designed},
      {{0, 0, 1024, 600}, {379, 469, 276, 131}},
      {{0, 0, 600, 400}, {324, 269, 276, 131}},
      {{0, 0, 200, 100}, {0, 0, 276, 131}},            // smaller than the window
      {{1920, 0, 1280, 1024}, {1920, 571, 276, 131}},  // a second screen to the right
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.area.width << "x" << c.area.height);
    EXPECT_EQ(FitInto(designed, c.area), c.expected);
  }
  // A summary (520 x 420) or progress window over the window, fitted where
  // it is: whole on a small screen, on the monitor the window is on.
  struct Box {
    Rect area, owner, expected;
  };
  const Box boxes[] = {
      {{0, 0, 1920, 1040}, designed, {257, 427, 520, 420}},
      {{0, 0, 1280, 680}, {379, 549, 276, 131}, {257, 260, 520, 420}},  // 1280x720, task bar
      {{0, 0, 1024, 600}, {379, 469, 276, 131}, {257, 180, 520, 420}},
      {{1920, 0, 1280, 1024}, {1920, 571, 276, 131}, {1920, 427, 520, 420}},  // right monitor
  };
  for (const Box& b : boxes) {
    SCOPED_TRACE(testing::Message() << "box on " << b.area.width << "x" << b.area.height);
    EXPECT_EQ(CentredOver(b.owner, 520, 420, b.area), b.expected);
  }
}

// Qt's own dialog speaks German, as the rest of the tool does.
TEST(Window, TheFileDialogIsGerman) {
  TForm1 form(nullptr);
  auto* buttons = form.dlgOpen->findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  QStringList texts;
  for (const QAbstractButton* b : buttons->buttons()) texts << b->text().remove('&');
  EXPECT_TRUE(texts.contains("Öffnen")) << texts.join(", ").toStdString();
  EXPECT_TRUE(texts.contains("Abbrechen")) << texts.join(", ").toStdString();
}

TEST(Window, OpenDialogOffersDatFilesFromTheProgramsFolder) {
  TForm1 form(nullptr);
  EXPECT_EQ(form.dlgOpen->defaultSuffix(), "dat");
  EXPECT_EQ(form.dlgOpen->nameFilters(), QStringList{"*.dat"});
  EXPECT_EQ(form.dlgOpen->fileMode(), QFileDialog::AnyFile);
  EXPECT_TRUE(form.dlgOpen->isSizeGripEnabled());
  EXPECT_EQ(form.dlgOpen->directory().absolutePath(),
            QDir(QCoreApplication::applicationDirPath()).absolutePath());
}

TEST(Window, AClickConvertsTheChosenFile) {
  test::TempDir dir;
  test::DatFile f = test::DatFile::Empty(test::Version::V10);
  f.SetCount(7, 2);
  dir.Put("a.dat", f.Bytes());
  test::FakeUi ui(dir.Path("a.dat"));
  TForm1 form(&ui);
  form.show();
  QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
  EXPECT_EQ(ui.messages, std::vector<std::string>{std::string("info: ") + kSuccessText});
  EXPECT_EQ(dir.Get("a.dat"), ConvertImage(f.Bytes(), *std::make_unique<TableSets>()));
  EXPECT_EQ(ui.waiting, 0);
}

class ThrowingUi : public test::FakeUi {
 public:
  std::optional<std::string> ChooseFile() override { throw std::runtime_error("Dialog kaputt"); }
};

TEST(Window, AnErrorEndsTheRunInAnErrorBoxAndTheWindowStaysUsable) {
  ThrowingUi ui;
  TForm1 form(&ui);
  form.show();
  QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
  QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
  EXPECT_EQ(ui.messages, std::vector<std::string>(2, "error: Dialog kaputt."));
  EXPECT_EQ(ui.waiting, 0);
  EXPECT_TRUE(form.BitBtn1->isEnabled());
}

// The real boxes: closed by a timer as soon as they are up.
TEST(Window, BoxesCarryTheTitleIconAndOneDefaultOk) {
  TForm1 form(nullptr);
  QtUserInterface ui(&form, form.dlgOpen);
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Information;
    bool okIsDefault = false;
    int buttons = 0;
    bool topLevel = false;
  };
  auto show = [&](auto showIt) {
    Seen seen;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      seen = {box->windowTitle(),
              box->text(),
              box->icon(),
              box->defaultButton() == box->button(QMessageBox::Ok),
              static_cast<int>(box->buttons().size()),
              box->isWindow()};
      QTest::keyClick(box, Qt::Key_Return);  // Enter closes it
    });
    showIt();
    return seen;
  };
  const Seen info = show([&] { ui.ShowInformation(kSuccessText); });
  EXPECT_EQ(info.text, QString::fromUtf8(kSuccessText));
  EXPECT_EQ(info.icon, QMessageBox::NoIcon);
  const Seen error = show([&] { ui.ShowError("Kann Backup Datei nicht erzeugen."); });
  EXPECT_EQ(error.icon, QMessageBox::Critical);
  for (const Seen& s : {info, error}) {
    EXPECT_EQ(
        s.title.toStdString(),
        ApplicationTitle(QCoreApplication::applicationFilePath().section('/', -1).toStdString()));
    EXPECT_TRUE(s.okIsDefault);
    EXPECT_EQ(s.buttons, 1);
    EXPECT_TRUE(s.topLevel);
  }
}

// Closes each box as it comes up, keeping what it said: a message box's
// text, or a summary's text and list. Answers the file dialog with answer,
// or cancels it. Notes where a busy cursor showed. With undo, a summary that
// offers to undo is closed by that button.
class BoxReader : public QObject {
 public:
  BoxReader() { Arm(); }
  std::vector<std::string> seen;
  QString answer;
  bool undo = false;
  bool waitingInDialog = false, waitingAtBox = false;
  bool cutOff = false;   // a summary's list hid text behind a sideways scrollbar
  bool unnamed = false;  // a list had no name for a screen reader
  QString press;         // a question's button to press; otherwise it is closed
  QString defaults;      // the default button of the last question

 private:
  void Arm() {
    QTimer::singleShot(0, this, [this] {
      const bool waiting = QApplication::overrideCursor() != nullptr;
      if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
        waitingInDialog = waitingInDialog || waiting;
        if (answer.isEmpty()) {
          dialog->reject();
        } else {
          dialog->selectFile(answer);
          QMetaObject::invokeMethod(dialog, "accept");
        }
      } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        waitingAtBox = waitingAtBox || waiting;
        seen.push_back(box->text().toStdString());
        QAbstractButton* pressed = nullptr;
        for (QAbstractButton* button : box->buttons()) {
          if (!press.isEmpty() && button->text() == press) pressed = button;
        }
        if (box->defaultButton() != nullptr) defaults = box->defaultButton()->text();
        if (pressed != nullptr) {
          pressed->click();
        } else {
          box->accept();
        }
      } else if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                 dialog && !qobject_cast<QProgressDialog*>(dialog)) {
        std::string said;
        for (const QLabel* label : dialog->findChildren<QLabel*>()) {
          said += (said.empty() ? "" : "\n") + label->text().toStdString();
        }
        for (const QPlainTextEdit* list : dialog->findChildren<QPlainTextEdit*>()) {
          said += "\n" + list->toPlainText().toStdString();
          cutOff = cutOff || list->horizontalScrollBar()->maximum() > 0;
          unnamed = unnamed || list->accessibleName().isEmpty();
        }
        seen.push_back(said);
        waitingAtBox = waitingAtBox || waiting;
        QPushButton* offer = nullptr;
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
          if (button->text() == QString::fromUtf8(kUndoButtonText)) offer = button;
        }
        if (undo && offer != nullptr) {
          offer->click();
        } else {
          dialog->accept();
        }
      }
      Arm();
    });
  }
};

void Drop(QWidget* target, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
}

// Dropped on the window, one file gives its own box; a folder and a file
// give one summary, whose list of failures scrolls and which can undo what
// it converted.
TEST(Window, DroppedFilesAndFoldersAreConverted) {
  test::TempDir dir;
  std::filesystem::create_directory(test::FromUtf8(dir.Path("Ordner")));
  for (const char* name : {"a.dat", "Ordner/b.dat", "Ordner/c.dat"})
    dir.Put(name, test::SmallFile());
  dir.Put("Ordner/c.old", {'x'});
  TForm1 form(nullptr);
  form.show();
  auto url = [&](const char* name) {
    return QUrl::fromLocalFile(QString::fromStdString(dir.Path(name)));
  };
  BoxReader boxes;
  Drop(&form, {url("a.dat")});
  boxes.undo = true;
  Drop(&form, {url("Ordner"), url("fehlt.dat")});
  EXPECT_EQ(boxes.seen,
            (std::vector<std::string>{kSuccessText,
                                      "1 Datei umgesetzt, die alte hat nun die Endung .old.\n"
                                      "2 Dateien nicht umgesetzt:\n"
                                      "Meldungen zu einzelnen Dateien im Ordner " +
                                          platform::FolderOf(dir.Path("fehlt.dat")) +
                                          ":\n"
                                          // Names below the folder, as a reader sorts them.
                                          "• fehlt.dat: Falsche Dateiversion (Datei nicht "
                                          "gefunden)\n"
                                          "• Ordner/c.dat: Kann Backup Datei nicht erzeugen "
                                          "(c.old gibt es schon. Die Datei ist unverändert)\n",
                                      "1 Datei rückgängig gemacht, sie hat wieder Version 1.0."}));
  EXPECT_FALSE(boxes.cutOff);
  EXPECT_FALSE(boxes.unnamed);
  EXPECT_TRUE(dir.Has("a.old"));
  EXPECT_FALSE(dir.Has("Ordner/b.old"));
  EXPECT_EQ(dir.Get("Ordner/b.dat"), test::SmallFile());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Started with a file (a double-click, "Öffnen mit"), the window asks once,
// naming it, with "Daten umsetzen" as the default: closed, nothing happens;
// answered, the file is converted. A file that is not there is said to be
// missing without a question. A drop converts at once.
TEST(Window, AStartWithFilesAsksOnce) {
  test::TempDir dir;
  dir.Put("Nord.dat", test::SmallFile());
  TForm1 form(nullptr);
  {
    BoxReader missing;
    form.ConvertNamed({dir.Path("fehlt.dat")}, true);
    EXPECT_EQ(missing.seen,
              std::vector<std::string>{std::string(kWrongVersionText) + "\nDatei nicht gefunden."});
  }
  BoxReader boxes;
  form.ConvertNamed({dir.Path("Nord.dat")}, true);
  const std::string question = "„Nord.dat“ umsetzen?\nIm Ordner " + dir.Path("");
  EXPECT_EQ(boxes.seen, std::vector<std::string>{question.substr(0, question.size() - 1)});
  EXPECT_EQ(boxes.defaults, "Daten umsetzen");
  EXPECT_EQ(dir.Names(), std::set<std::string>{"Nord.dat"});
  boxes.press = "Daten umsetzen";
  form.ConvertNamed({dir.Path("Nord.dat")}, true);
  EXPECT_EQ(boxes.seen.back(), kSuccessText);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"Nord.dat", "Nord.old"}));
}

// Every conversion of the table of scenarios through the window: each file's
// line and the counts as the command line has them, the disk as the row
// says, and the box that shows them.
TEST(Window, EveryConvertingRowEndsInItsBox) {
  int ran = 0, marked = 0, options = 0;
  for (const test::Scenario& row : test::ReadScenarios(KVO_SCENARIOS)) {
    if (row.notOn.contains("qt")) {
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
    TForm1 form(nullptr);
    QtUserInterface window(&form, form.dlgOpen);
    test::RowUi ui(window, row, folder);
    std::vector<std::string> named;
    for (const std::string& arg : row.run) named.push_back(folder + "/" + arg);
    BoxReader boxes;
    const auto results = RunConversion(ui, platform::SystemFiles(), named);
    EXPECT_EQ(ui.fired, row.at.has_value());
    EXPECT_EQ(test::Mismatches(row, results, folder, true), std::vector<std::string>{});
    ASSERT_EQ(boxes.seen.size(), 1u);
    if (named.size() == 1 && results.size() == 1 && !results.front().inFolder) {
      EXPECT_EQ(boxes.seen.front(), BoxText(results.front()));
    } else {
      EXPECT_TRUE(boxes.seen.front().starts_with(SummaryText(results))) << boxes.seen.front();
      for (const FileResult& r : results) {
        if (!IsProblem(r)) continue;
        EXPECT_NE(boxes.seen.front().find(Explained(r)), std::string::npos) << Explained(r);
      }
    }
    ++ran;
  }
  std::printf("qt: %d rows run, %d marked as not to be produced here, %d the command line's\n", ran,
              marked, options);
  EXPECT_GT(ran, 0);
}

// Work of more than a moment shows its progress, and its cancel button
// stops the run before the next file.
TEST(Window, TheProgressDialogCancelsBeforeTheNextFile) {
  test::TempDir dir;
  for (const char* name : {"a.dat", "b.dat", "c.dat"}) dir.Put(name, test::SmallFile());
  TForm1 form(nullptr);
  QtUserInterface ui(&form, form.dlgOpen);
  ui.progress.after = {};
  std::function<void()> cancelWhenShown = [&] {
    // Once the first file is done.
    auto* progress = form.findChild<QProgressDialog*>();
    if (progress && progress->isVisible() && progress->value() == 1000) {
      progress->cancel();
    } else {
      QTimer::singleShot(0, &form, cancelWhenShown);
    }
  };
  QTimer::singleShot(0, &form, cancelWhenShown);
  BoxReader boxes;
  RunConversion(ui, platform::SystemFiles(), {dir.Path("")});
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0],
            "1 Datei umgesetzt, die alte hat nun die Endung .old.\n"
            "2 Dateien nicht begonnen, weil abgebrochen wurde.");
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.dat", "a.old", "b.dat", "c.dat"}));
  EXPECT_EQ(form.findChild<QProgressDialog*>(), nullptr);
}

// Work shorter than the threshold shows no progress at all.
TEST(Window, ARunShorterThanTheThresholdShowsNoProgress) {
  test::TempDir dir;
  for (const char* name : {"a.dat", "b.dat"}) dir.Put(name, test::SmallFile());
  TForm1 form(nullptr);
  QtUserInterface ui(&form, form.dlgOpen);
  ui.progress.after = std::chrono::hours(1);
  bool shown = false;
  std::function<void()> look = [&] {
    shown = shown || form.findChild<QProgressDialog*>() != nullptr;
    QTimer::singleShot(0, &form, look);
  };
  QTimer::singleShot(0, &form, look);
  BoxReader boxes;
  RunConversion(ui, platform::SystemFiles(), {dir.Path("")});
  EXPECT_FALSE(shown);
  EXPECT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.dat", "a.old", "b.dat", "b.old"}));
}

// One large file shows its progress by bytes too, and cancelling it while it
// is read or written leaves it untouched, without a box.
TEST(Window, OneLargeFileShowsItsProgressAndCancelsUntouched) {
  test::TempDir dir;
  const auto big = test::SizedFile(3, 24'000'000).Bytes();
  dir.Put("gross.dat", big);
  TForm1 form(nullptr);
  QtUserInterface ui(&form, form.dlgOpen);
  ui.progress.after = {};
  int seen = 0;  // how far into the file the dialog showed, in thousandths
  std::function<void()> cancelWithinTheFile = [&] {
    auto* progress = form.findChild<QProgressDialog*>();
    if (progress && progress->isVisible() && progress->value() > 0) {
      seen = progress->value();
      progress->cancel();
    } else {
      QTimer::singleShot(0, &form, cancelWithinTheFile);
    }
  };
  QTimer::singleShot(0, &form, cancelWithinTheFile);
  BoxReader boxes;
  const auto results = RunConversion(ui, platform::SystemFiles(), {dir.Path("gross.dat")});
  EXPECT_GT(seen, 0);
  EXPECT_LT(seen, 1000);
  EXPECT_EQ(results.front().outcome, Outcome::Interrupted);
  // Said, so that nobody wonders whether it is half converted.
  EXPECT_EQ(boxes.seen, std::vector<std::string>{kInterruptedText});
  EXPECT_EQ(dir.Names(), std::set<std::string>{"gross.dat"});
  EXPECT_EQ(dir.Get("gross.dat"), big);
  EXPECT_EQ(form.findChild<QProgressDialog*>(), nullptr);
}

// Space and Enter press the button; the dialog shows the normal cursor and
// the wait cursor follows it; after the dialog is cancelled and after every
// box the button has the focus.
TEST(Window, KeysPressTheButtonAndItKeepsTheFocus) {
  test::TempDir dir;
  dir.Put("a.dat", test::SmallFile());
  TForm1 form(nullptr);
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  struct Step {
    Qt::Key key;
    const char* chosen;  // "" cancels the dialog
    std::vector<std::string> boxes;
  };
  const Step steps[] = {
      {Qt::Key_Space, "", {}},
      {Qt::Key_Return, "a.dat", {kSuccessText}},
      {Qt::Key_Enter,
       "a.dat",
       {std::string(kWrongVersionText) + "\nDie Datei hat schon Version 1.1."}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.chosen);
    BoxReader boxes;
    if (*step.chosen != 0) boxes.answer = QString::fromStdString(dir.Path(step.chosen));
    form.BitBtn1->setFocus();
    QTest::keyClick(form.BitBtn1, step.key);
    QCoreApplication::processEvents();  // the window is active again
    EXPECT_EQ(boxes.seen, step.boxes);
    EXPECT_FALSE(boxes.waitingInDialog) << "a busy cursor over the dialog";
    EXPECT_FALSE(boxes.waitingAtBox);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), form.BitBtn1);
  }
  EXPECT_TRUE(dir.Has("a.old"));
}

// The settings folder the suite gives Qt: it must stay empty.
test::TempDir* configHome = nullptr;

// The tool keeps nothing between runs: the file dialog's history and views
// are written nowhere.
TEST(Window, KeepsNoSettings) {
  {
    TForm1 form(nullptr);
    QtUserInterface ui(&form, form.dlgOpen);
    QTimer::singleShot(0, [&] {
      form.dlgOpen->selectFile(QString::fromStdString(configHome->Path("a.dat")));
      QMetaObject::invokeMethod(form.dlgOpen, "accept");
    });
    EXPECT_TRUE(ui.ChooseFile().has_value());
  }
  EXPECT_TRUE(configHome->Names().empty());
}

}  // namespace
}  // namespace kvo

int main(int argc, char** argv) {
  // Qt's settings go to a folder of the suite's own, never the user's.
  kvo::test::TempDir config;
  kvo::configHome = &config;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path("")));
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  kvo::UseGermanQtTexts(app);  // as the program does
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
