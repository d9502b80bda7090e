// The window: one button that runs a conversion, two lines saying from which
// version to which.
#pragma once

#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "Files.h"
#include "TableSets.h"
#include "UserInterface.h"
#include "Window.h"

namespace kvo {

// Qt's own texts (the file dialog's buttons and labels) in German, as every
// other text of the tool, whatever the user's language. False where Qt's
// German translations are not installed.
bool UseGermanQtTexts(QCoreApplication& app);

class TForm1 : public QWidget {
 public:
  // ui replaces the dialog, boxes and cursor (tests); by default the window
  // uses its own.
  explicit TForm1(UserInterface* ui = nullptr, platform::Files& files = platform::SystemFiles(),
                  TableSets* tables = nullptr);
  ~TForm1() override;

  QPushButton* BitBtn1;
  QLabel* Label1;
  QLabel* Label2;
  QFileDialog* dlgOpen;

  void BitBtn1Click();
  // Files and folders dropped on the window or given to the program.
  // With askFirst (the program was started with them) the user is asked once.
  void ConvertNamed(const std::vector<std::string>& named, bool askFirst = false);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  // Once the window manager has framed the window, its real frame is fitted
  // into the screen's work area.
  void moveEvent(QMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool fitted_ = false;  // the framed window was fitted to the screen
  void FormCreate();
  void FitFont();
  // Runs one conversion run unless one is under way already; the run reports
  // its own errors, and anything else still ends in an error box.
  template <class Work>
  void Guarded(Work work);

  std::unique_ptr<UserInterface> ownUi_;
  UserInterface* ui_;
  platform::Files& files_;
  TableSets* tables_;
  bool running_ = false;
};

// The dialog, boxes and cursor of the real window.
class QtUserInterface final : public UserInterface {
 public:
  QtUserInterface(QWidget* window, QFileDialog* dialog) : window_(window), dialog_(dialog) {}
  std::optional<std::string> ChooseFile() override;
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;
  bool ShowSummary(const std::vector<FileResult>& results, bool offerUndo) override;
  void BeginWait() override;
  void EndWait() override;
  void Progress(std::size_t done, std::size_t total, const std::string& current) override;
  void FileProgress(std::uint64_t done, std::uint64_t total) override;
  bool CancelRequested() override;
  bool ConfirmStart(const std::string& question) override;

  // The run's progress; shown for work that lasts longer than progress.after.
  design::Progress progress;

 private:
  QWidget* window_;
  QFileDialog* dialog_;
  void ShowProgress();

  QPointer<QProgressDialog> progress_;
};

}  // namespace kvo
