// The window: one button that runs a conversion, two lines saying from which
// version to which.
#pragma once

#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "Files.h"
#include "TableSets.h"
#include "UserInterface.h"

namespace kvo {

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

 private:
  void FormCreate();
  void FitFont();

  std::unique_ptr<UserInterface> ownUi_;
  UserInterface* ui_;
  platform::Files& files_;
  TableSets* tables_;
};

// The dialog, boxes and cursor of the real window.
class QtUserInterface final : public UserInterface {
 public:
  QtUserInterface(QWidget* window, QFileDialog* dialog) : window_(window), dialog_(dialog) {}
  std::optional<std::string> ChooseFile() override;
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void BeginWait() override;
  void EndWait() override;

 private:
  QWidget* window_;
  QFileDialog* dialog_;
};

}  // namespace kvo
