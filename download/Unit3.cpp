// TDownThread: the worker's run, its pauses and its reports through the bridge.
#include "download/Unit3.h"

#include <chrono>
#include <exception>

#include "engine/tile_sequence.h"
#include "platform/text_format.h"

TDownThread::TDownThread(int threadIndex, const TDownTask* task, WorkerHost& host,
                         qm::UiBridge& bridge, DownloadPauses pauses, std::string programFolder)
    : ThreadIndex(threadIndex),
      Task(task),
      host_(host),
      bridge_(bridge),
      pauses_(pauses),
      programFolder_(std::move(programFolder)),
      thread_([this] { Execute(); }) {}

TDownThread::~TDownThread() {
  Terminate();
  if (thread_.joinable()) thread_.join();
}

void TDownThread::Terminate() {
  {
    std::lock_guard lock(pauseMutex_);
    terminated_.store(true);
  }
  pauseWake_.notify_all();
}

void TDownThread::AbortRequests() {
  Terminate();
  {
    std::lock_guard lock(pauseMutex_);
    aborted_.store(true);
  }
  pauseWake_.notify_all();
  std::lock_guard lock(clientMutex_);
  if (Client) Client->Abort();
}

std::pair<int32_t, int32_t> TDownThread::LastPosition() const {
  uint64_t packed = lastPosition_.load();
  return {static_cast<int32_t>(static_cast<uint32_t>(packed >> 32)),
          static_cast<int32_t>(static_cast<uint32_t>(packed))};
}

void TDownThread::SetLastPosition(int32_t x, int32_t y) {
  lastPosition_.store(static_cast<uint64_t>(static_cast<uint32_t>(x)) << 32 |
                      static_cast<uint32_t>(y));
}

TileCounts TDownThread::Counts() const {
  return {stored_.load(), blank_.load(), failed_.load(), notImages_.load()};
}

void TDownThread::TileEnded(FetchOutcome outcome, bool answerIsImage) {
  TileCounts one;
  one.Count(outcome);
  stored_ += one.stored;
  blank_ += one.blank;
  failed_ += one.failed;
  if (outcome == FetchOutcome::kStored && !answerIsImage) ++notImages_;
  if (const WorkerEnd end = WorkerEndOf(outcome); end != WorkerEnd::kNone) end_.store(end);
}

void TDownThread::Execute() {
  const std::string n = std::to_string(ThreadIndex + 1);
  try {
    if (SetUpClient()) Walk();
  } catch (const std::exception& e) {
    AddLogIfPossible("T" + n + " " + e.what());
  } catch (...) {
    AddLogIfPossible("T" + n + " stopped by an unknown error.");
  }
  // Whatever happened, the worker reports its end, exactly once: the download waits for it.
  ReleaseClient();
  AddLogIfPossible("T" + n + " Finished.");
  try {
    bridge_.Synchronize([this] { host_.ThreadDone(ThreadIndex); });
  } catch (...) {
    // The host failed while counting the end; nothing is left that this thread could do.
  }
}

void TDownThread::AddLogIfPossible(const std::string& line) {
  try {
    AddLog(line);
  } catch (...) {
    // A line the window could not take must not keep the worker from ending.
  }
}

bool TDownThread::SetUpClient() {
  auto client = std::make_unique<qm::HttpClient>();
  const TDownParams& params = *Task->Params;
  if (params.UseProxy) {
    std::optional<int32_t> port = qm::IntegerFromText(params.ProxyPort);
    if (!port) {
      AddLog("T" + std::to_string(ThreadIndex + 1) + " Proxy port is not a number: " +
             params.ProxyPort);
      return false;
    }
    if (*port < 1 || *port > 65535) {
      AddLog("T" + std::to_string(ThreadIndex + 1) + " Proxy port is out of range: " +
             params.ProxyPort);
      return false;
    }
    client->SetProxy({params.ProxyServer, *port, params.ProxyUsername, params.ProxyPassword});
  }
  // A plain host setting has no headers: its requests stay exactly as they always were.
  if (!params.Headers.empty()) client->SetHeaders(params.Headers);
  std::lock_guard lock(clientMutex_);
  Client = std::move(client);
  if (aborted_.load()) Client->Abort();
  return true;
}

void TDownThread::ReleaseClient() {
  std::lock_guard lock(clientMutex_);
  Client.reset();
}

void TDownThread::Walk() {
  TileFetchSettings settings{ThreadIndex + 1,
                             programFolder_ + "blankimg" + qm::kPathSeparator + "blank." +
                                 TileExtension(*Task),
                             pauses_};
  const WorkerShare share = ShareOf(*Task, ThreadIndex);
  Pause(pauses_.startStepMs * ThreadIndex);
  WalkWorkerTiles(
      OrderOf(*Task), share, [this] { return terminated_.load(); },
      [&](const SequencedTile& tile) {
        TileJob job{tile.x,
                    tile.y,
                    tile.sequence,
                    TileUrl(*Task, tile.x, tile.y),
                    TileFileName(*Task, tile.x, tile.y),
                    TileFilePath(*Task, tile.x, tile.y)};
        return EndsWorker(FetchTile(*this, settings, job)) ? TileOutcome::Stop : TileOutcome::GoOn;
      });
}

qm::HttpResult TDownThread::Get(const std::string& url, std::string& body, std::chrono::milliseconds timeLimit) {
  // Only this thread replaces Client, so it is used here without the lock; Abort is safe to
  // call on it concurrently.
  return Client->Get(url, body, timeLimit);
}

void TDownThread::Report(void (WorkerHost::*add)(const std::string&), const std::string& line) {
  LogText = line;
  bridge_.Synchronize([this, add] { (host_.*add)(LogText); });
}

void TDownThread::AddLog(const std::string& line) { Report(&WorkerHost::AddLog, line); }

void TDownThread::AddFailed(const std::string& line) { Report(&WorkerHost::AddFailed, line); }

void TDownThread::Pause(int ms) {
  if (ms <= 0) return;
  std::unique_lock lock(pauseMutex_);
  pauseWake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return aborted_.load(); });
}

bool TDownThread::WaitForServer(int ms) {
  std::unique_lock lock(pauseMutex_);
  const auto stopped = [this] { return terminated_.load() || aborted_.load(); };
  if (ms > 0) pauseWake_.wait_for(lock, std::chrono::milliseconds(ms), stopped);
  return !stopped();
}
