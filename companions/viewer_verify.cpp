// Verifying the shown project off the window's thread.
#include "companions/viewer_verify.h"

#include <QLocale>

#include "platform/file_ops.h"

namespace {

QString Grouped(int64_t n) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(n)); }

}  // namespace

ViewerVerifyRun::~ViewerVerifyRun() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void ViewerVerifyRun::Start(const std::string& projectFile, const std::string& tileServer) {
  if (thread_.joinable()) thread_.join();
  stop_ = false;
  ended_ = false;
  projectFile_ = projectFile;
  thread_ = std::thread([this, projectFile, tileServer] {
    std::optional<VerifyReport> report;
    QString failure;
    try {
      report = VerifyProject(projectFile, tileServer, [this](int64_t checked, int64_t total) {
        QMetaObject::invokeMethod(this, [this, checked, total] { emit progressed(checked, total); },
                                  Qt::QueuedConnection);
        return !stop_.load();
      });
    } catch (const std::exception& e) {
      failure = QString::fromStdString(e.what());
    }
    QMetaObject::invokeMethod(this, [this, report, failure] { Finish(report, failure); }, Qt::QueuedConnection);
  });
}

void ViewerVerifyRun::Finish(const std::optional<VerifyReport>& report, const QString& failure) {
  ended_ = true;
  emit ended(report, failure);
}

QString VerifyResultText(const VerifyReport& report) {
  const VerifyCounts& c = report.counts;
  QString text = report.stopped ? QString("Verify stopped: %1 of %2 tiles checked").arg(Grouped(report.checked), Grouped(report.total))
                                : QString("%1 tiles checked").arg(Grouped(report.checked));
  if (c.Listed() == 0) return text + (report.stopped ? ": none damaged so far" : ": all sound");
  return text + QString(": %1 damaged, %2 missing — listed in %3")
                    .arg(Grouped(c.damaged + c.notImages), Grouped(c.missing),
                         QString::fromStdString(qm::ExtractFileName(report.listFile)));
}

QString VerifyStateText(const std::optional<VerifyReport>& report, const std::string& listFile, int64_t listed,
                        int64_t outstanding) {
  const QString listName = QString::fromStdString(qm::ExtractFileName(listFile));
  if (!report) {
    if (outstanding == 0) return {};
    return QString("%1 of the tiles listed in %2 still damaged or missing").arg(Grouped(outstanding), listName);
  }
  const QString text = VerifyResultText(*report);
  if (report->counts.Listed() == 0 || outstanding == listed) return text;
  if (outstanding == 0) return text + "; all stored again since";
  return text + QString("; %1 still damaged or missing").arg(Grouped(outstanding));
}
