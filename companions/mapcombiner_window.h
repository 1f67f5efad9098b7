// mapcombiner's window: the project or level set (the last task built, to begin with), the output
// file, its format, lower levels, compression and fill, a progress bar with Cancel, and at the end
// the counts and the output's folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include <QWidget>

#include "mosaic/mosaic_writer.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

class MapCombinerWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MapCombinerWindow(const std::string& programFolder, QWidget* parent = nullptr);
  ~MapCombinerWindow() override;

  QLineEdit* ProjectEdit;
  QLineEdit* OutputEdit;
  QComboBox* FormatBox;
  QSpinBox* LowerZoomBox;      // tile packages; its least value means none
  QComboBox* CompressionBox;   // GeoTIFFs
  QLineEdit* FillEdit;
  QProgressBar* Progress;
  QPushButton* CombineButton;
  QPushButton* OpenFolderButton;
  QLabel* ResultLabel;

  void Combine();  // or Cancel, while a run goes on

 protected:
  void closeEvent(class QCloseEvent* event) override;

 private:
  void BuildControls();
  void ProjectChosen();
  void FormatChosen();
  void ShowFormatChoices();
  void ForgetResult();
  void RunFinished(const QString& text, bool ok);
  void WaitForRun();

  std::string programFolder_;
  std::thread run_;
  std::atomic<bool> cancel_{false};
  bool running_ = false;
  bool outputNamed_ = false;  // by the user: it no longer follows the project
  int shownFormat_ = 0;       // the format whose extension the output has
};
