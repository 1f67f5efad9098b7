// Runs download workers of a small task against a test server and records what they report.
#include "tests/support/worker_harness.h"

#include <cctype>
#include <filesystem>

#include "platform/file_ops.h"

namespace qmtest {

void RecordingHost::AddLog(const std::string& line) {
  log.push_back(line);
  events.push_back({'L', line});
}

void RecordingHost::AddFailed(const std::string& line) {
  failed.push_back(line);
  events.push_back({'F', line});
}

void RecordingHost::ThreadDone(int threadIndex) {
  done.push_back(threadIndex);
  events.push_back({'D', std::to_string(threadIndex)});
}

WorkerHarness::WorkerHarness(const std::string& serverHostPort, int32_t columns, int32_t rows,
                             int threadCount) {
  params.LeftLongitude = -74.0;
  params.RightLongitude = -74.0;
  params.TopLatitude = 40.7;
  params.BottomLatitude = 40.7;
  params.Zoom = kZoom;
  params.ThreadCount = threadCount;
  params.SavePath = saveDir.Path();
  params.TaskName = "worker.qmtp";
  params.TileServer = serverHostPort;
  task = std::make_unique<TDownTask>(&params);
  task->MinX = kMinX;
  task->MaxX = kMinX + columns - 1;
  task->MinY = kMinY;
  task->MaxY = kMinY + rows - 1;
  task->TotalCount = columns * rows;
  std::filesystem::create_directory(programDir.File("blankimg"));
  qm::WriteFileAtomic(programDir.File("blankimg/blank.jpg"), "BLANK");
  programFolder = programDir.Path();
}

WorkerHarness::~WorkerHarness() {
  for (auto& worker : workers) worker->AbortRequests();
  WaitUntilDone(std::chrono::seconds(60));
  workers.clear();
}

void WorkerHarness::Start(DownloadPauses pauses, std::vector<int> indexes) {
  if (indexes.empty()) {
    for (int i = 0; i < params.ThreadCount; ++i) indexes.push_back(i);
  }
  for (int index : indexes) {
    workers.push_back(
        std::make_unique<TDownThread>(index, task.get(), host, bridge, pauses, programFolder));
  }
}

bool WorkerHarness::WaitUntilDone(std::chrono::milliseconds timeout) {
  return PumpUntil([this] { return host.done.size() >= workers.size(); }, timeout);
}

bool WorkerHarness::PumpUntil(const std::function<bool()>& pred,
                              std::chrono::milliseconds timeout) {
  return bridge.PumpUntil(pred, timeout);
}

std::vector<std::string> WorkerHarness::LogOf(int n) const {
  std::string prefix = "T" + std::to_string(n);
  std::vector<std::string> lines;
  for (const auto& line : host.log) {
    if (line.rfind(prefix, 0) == 0 && line.size() > prefix.size() &&
        !std::isdigit(static_cast<unsigned char>(line[prefix.size()]))) {
      lines.push_back(line);
    }
  }
  return lines;
}

}  // namespace qmtest
