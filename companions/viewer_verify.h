// The viewer's verify: every stored tile of one project decoded on a thread of its own, the
// damaged ones listed in NAME_verify.ftl, progress and the end handed to the window's thread.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include <QObject>
#include <QString>

#include "verify/project_verify.h"

class ViewerVerifyRun : public QObject {
  Q_OBJECT

 public:
  explicit ViewerVerifyRun(QObject* parent = nullptr) : QObject(parent) {}
  ~ViewerVerifyRun() override;  // stops after the tile in hand

  bool Running() const { return thread_.joinable() && !ended_; }
  const std::string& ProjectFile() const { return projectFile_; }
  // tileServer gives the listed tiles their URLs.
  void Start(const std::string& projectFile, const std::string& tileServer);
  // Ends the run after the tile in hand; the list then holds what was found so far.
  void Stop() { stop_ = true; }

 signals:
  void progressed(qint64 checked, qint64 total);
  // The report, or the reason the project could not be verified (then report is empty).
  void ended(const std::optional<VerifyReport>& report, const QString& failure);

 private:
  void Finish(const std::optional<VerifyReport>& report, const QString& failure);

  std::atomic<bool> stop_{false};
  bool ended_ = false;
  std::string projectFile_;
  std::thread thread_;
};

// "4,096 tiles checked: 3 damaged, 1 missing — listed in NAME_verify.ftl"
QString VerifyResultText(const VerifyReport& report);
// The verify line of a project as its tiles are now: the report of its last verify here, or without
// one what its verify list names, followed by how many of the listed tiles are still damaged or
// missing (listed of them are in the list, outstanding still to mend). Empty when nothing is to say.
QString VerifyStateText(const std::optional<VerifyReport>& report, const std::string& listFile, int64_t listed,
                        int64_t outstanding);
