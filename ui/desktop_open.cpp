// Starting programs and xdg-open, with the reason of a failure kept for the user.
#include "ui/desktop_open.h"

#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace {

QString Intro(const QString& target) { return "Cannot open " + target + ": "; }

// xdg-open ends at once when it handed the target over, and with a status other than 0 (and a
// line on standard error) when no program on this desktop takes it.
void OpenWithXdg(const QString& target, const QString& argument, std::function<void(const QString&)> failed) {
  auto* process = new QProcess();
  process->setProcessChannelMode(QProcess::SeparateChannels);
  QObject::connect(process, &QProcess::errorOccurred, process, [process, target, failed](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    failed(Intro(target) + "xdg-open, which opens files and addresses with their programs, is not installed.");
    process->deleteLater();
  });
  QObject::connect(process, &QProcess::finished, process,
                   [process, target, failed](int status, QProcess::ExitStatus how) {
                     if (how != QProcess::NormalExit || status != 0) {
                       QString why = QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
                       if (why.isEmpty()) why = "no program on this desktop is set up to open it.";
                       failed(Intro(target) + why);
                     }
                     process->deleteLater();
                   });
  process->start("xdg-open", {argument});
}

}  // namespace

void OpenWithDesktop(const std::string& targetText, std::function<void(const QString& reason)> failed) {
  const QString target = QString::fromStdString(targetText);
  const bool address = target.contains("://") || target.startsWith("mailto:");
  if (address) {
    OpenWithXdg(target, target, std::move(failed));
    return;
  }
  const QFileInfo file(target);
  if (!file.exists()) {
    failed(Intro(target) + "the file does not exist.");
  } else if (file.isFile() && file.isExecutable()) {
    if (!QProcess::startDetached(file.absoluteFilePath(), {}, file.absolutePath())) {
      failed(Intro(target) + "the program could not be started.");
    }
  } else {
    OpenWithXdg(target, QUrl::fromLocalFile(file.absoluteFilePath()).toString(), std::move(failed));
  }
}
