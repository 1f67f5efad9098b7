// The levels of a set, one ordinary download after another.
#include "download/level_set_run.h"

#include <unistd.h>

#include "engine/Unitclasstask.h"
#include "platform/errors.h"
#include "platform/file_ops.h"

namespace {

TileCounts Minus(TileCounts a, const TileCounts& b) {
  a.stored -= b.stored;
  a.blank -= b.blank;
  a.failed -= b.failed;
  a.notImages -= b.notImages;
  return a;
}

}  // namespace

LevelSetRun::Outcome LevelSetRun::Start(const StartInputs& fields, ZoomRange zooms) {
  LevelSet wanted{fields.LeftLongitude, fields.RightLongitude, fields.TopLatitude, fields.BottomLatitude,
                  fields.Folder, fields.TaskName, zooms, {}, std::nullopt, controller_.Area()};
  setFile_ = fields.Folder.empty() ? "" : qm::WithTrailingSeparator(fields.Folder) + LevelSetFileName(fields.TaskName);
  // The set's lock lives in its folder: one that Start would make is made now.
  madeFolder_ = !fields.Folder.empty() && !qm::DirectoryExists(fields.Folder) && qm::CreateDirectory(fields.Folder);
  if (!LockSet()) return Outcome::kRefused;
  // Another set of the same name is replaced, as a single task of other fields is; the same set
  // continues only when its file still tells the truth about its levels.
  if (!setFile_.empty() && qm::FileExists(setFile_)) {
    const LevelSet existing = LoadLevelSet(setFile_);
    if (existing.SameSetAs(wanted)) {
      if (const auto problem = LevelSetProblem(existing, setFile_)) {
        view_.ShowMessage(*problem);
        return Ended(Outcome::kRefused);
      }
      wanted.finished = existing.finished;
    }
  }
  set_ = std::move(wanted);
  return Ended(StartSet(fields));
}

LevelSetRun::Outcome LevelSetRun::Resume(const std::string& setFile) {
  setFile_ = setFile;
  if (!LockSet()) return Outcome::kRefused;
  auto existing = ReadLevelSet(setFile);
  if (const auto* reason = std::get_if<std::string>(&existing)) {
    view_.ShowMessage(*reason);
    return Ended(Outcome::kRefused);
  }
  set_ = std::get<LevelSet>(std::move(existing));
  // The levels are covered by the area the front end read from the set's area file.
  const auto& area = controller_.Area();
  if (set_.area ? !area || area->geoJson != set_.area->geoJson : area != nullptr) {
    view_.ShowMessage("The area of the level set " + setFile + " is not the area in use.");
    return Ended(Outcome::kRefused);
  }
  set_.area = area;
  const StartInputs fields{set_.LeftLongitude, set_.RightLongitude, set_.TopLatitude, set_.BottomLatitude,
                           "", qm::ExtractFilePath(setFile), set_.TaskName};
  return Ended(StartSet(fields));
}

// The set is locked for the whole run, each level by the controller as it runs. Without a folder
// there is no set to guard: the first level's checks say what is wrong.
bool LevelSetRun::LockSet() {
  if (setFile_.empty() || !qm::DirectoryExists(qm::ExtractFilePath(setFile_))) return true;
  if (TakeRunLock(view_, setFile_, setLock_)) return true;
  Ended(Outcome::kRefused);
  return false;
}

LevelSetRun::Outcome LevelSetRun::Ended(Outcome outcome) {
  if (outcome != Outcome::kRunning) LetGo();
  return outcome;
}

// A folder made for a set that did not start goes again, as the controller's own does (once a level
// ran, it holds the level's files and stays).
void LevelSetRun::LetGo() {
  setLock_.Release();
  if (madeFolder_) ::rmdir(qm::ExtractFilePath(setFile_).c_str());
  madeFolder_ = false;
}

// Levels beyond one task's limit are refused before any level runs, so a set never stops
// half-way on them; fields that describe no area are left to the first level's own checks.
LevelSetRun::Outcome LevelSetRun::StartSet(const StartInputs& fields) {
  // A level the server does not serve would end the set there, after the levels before it.
  if (const auto refusal = controller_.ServerZoomRefusal(set_.zooms.last)) {
    view_.ShowMessage(*refusal);
    return Outcome::kRefused;
  }
  const LevelEstimates estimates =
      EstimateLevels(fields.LeftLongitude, fields.RightLongitude, fields.TopLatitude, fields.BottomLatitude, set_.zooms,
                     controller_.Area().get());
  levelTiles_.clear();
  for (size_t i = 0; i < estimates.levels.size(); ++i) {
    const int64_t tiles = estimates.levels[i].tiles;
    if (tiles > kMaxTaskTiles) {
      view_.ShowMessage("Zoom level " + std::to_string(set_.zooms.first + static_cast<int32_t>(i)) + ": " +
                        TooManyTilesText(tiles));
      return Outcome::kRefused;
    }
    levelTiles_.push_back(tiles);
  }
  set_.Folder = fields.Folder;
  started_ = DownloadProgress::Clock::now();
  for (int32_t zoom = set_.zooms.first; zoom <= set_.zooms.last; ++zoom) {
    if (set_.finished.count(zoom) > 0) continue;
    return StartLevel(zoom) ? Outcome::kRunning : Outcome::kRefused;
  }
  FoundAllComplete();
  return Outcome::kAlreadyComplete;
}

// Nothing runs; the set is shown as a finished run of it would leave it: its total, the last
// level's log and failed-tile list, and the set as the project last worked on.
void LevelSetRun::FoundAllComplete() {
  foundComplete_ = true;
  end_ = DownloadEnd::kComplete;
  zoom_ = set_.zooms.last;
  lastUpdate_ = started_;
  progress_.Begin(FinishedTiles(), FinishedTiles(), started_);
  ShowTotal();
  controller_.ShowTaskFiles(LogFile(), LevelFile(zoom_, "_failed.ftl"));
  controller_.RememberProject(setFile_);
}

// The level starts with its edges as its task file stores them, so that the controller's rule
// continues a level begun before however the edges were typed ("-74.0" is stored as "-74"); the
// files it writes are the same either way. The set file is written once the first level runs:
// input the controller refuses leaves an earlier set file as it was.
bool LevelSetRun::StartLevel(int32_t zoom) {
  StartInputs level{StoredCoordinateText(set_.LeftLongitude), StoredCoordinateText(set_.RightLongitude),
                    StoredCoordinateText(set_.TopLatitude), StoredCoordinateText(set_.BottomLatitude),
                    std::to_string(zoom), set_.Folder, LevelTaskName(set_.TaskName, zoom)};
  // Every level covers the set's area, whatever area the front end chose meanwhile for its next Start.
  const std::shared_ptr<const TaskArea> chosen = controller_.Area();
  controller_.UseArea(set_.area);
  controller_.BitBtn1Click(level);
  controller_.UseArea(chosen);
  if (!controller_.Running()) return false;
  const bool firstLevel = zoom_ < 0;
  zoom_ = zoom;
  if (!setWritten_) {
    try {
      // A set continued as it was needs no new copy of its file (nor the wait for the disk).
      if (!qm::FileExists(setFile_) || qm::ReadWholeFile(setFile_) != LevelSetText(set_)) WriteLevelSet(setFile_, set_);
      setWritten_ = true;
    } catch (const qm::FileError& e) {
      view_.ShowError(e.what());
      controller_.BitBtn1Click(level);  // Stop: without its set file the level is not recorded
    }
  }
  if (firstLevel || controller_.Progress().DoneBefore() > 0) BeginProgress();
  ShowTotal();
  // The companions open the set, not the level that Start named last.
  if (setWritten_) controller_.RememberProject(setFile_);
  return true;
}

// The controller shows the level's own count; the set's covers every level.
void LevelSetRun::ShowTotal() { view_.SetTotalLabel("Total images: " + std::to_string(AllTiles())); }

int64_t LevelSetRun::AllTiles() const {
  int64_t total = 0;
  for (const int64_t tiles : levelTiles_) total += tiles;
  return total;
}

// Done before this point: finished levels, and what earlier runs did of the level starting now.
// A later level rarely has earlier work (a set of the same area with other levels left it); the
// rate starts again then.
void LevelSetRun::BeginProgress() {
  progress_.Begin(AllTiles(), FinishedTiles() + controller_.Progress().DoneBefore(), DownloadProgress::Clock::now());
  progressBase_ = runCounts_;
}

void LevelSetRun::Tick() {
  TileCounts counts = Minus(runCounts_, progressBase_);
  counts += controller_.Progress().Counts();
  lastUpdate_ = DownloadProgress::Clock::now();
  progress_.Update(counts, lastUpdate_);
}

bool LevelSetRun::LevelEnded(bool stopWanted) {
  const bool goesOn = NextLevel(stopWanted);
  if (!goesOn) LetGo();
  return goesOn;
}

bool LevelSetRun::NextLevel(bool stopWanted) {
  Tick();  // the level's last figures, before they join those of ended levels
  const RunSummary level = controller_.Summary();
  runCounts_ += level.run;
  if (level.run.failed > 0 || level.end == DownloadEnd::kRefused || level.end == DownloadEnd::kNetworkFailure) {
    failedFiles_.push_back(level.failedFile);
  }
  end_ = level.end;
  if (!setWritten_) {
    end_ = DownloadEnd::kFileError;
    return false;
  }
  if (level.end != DownloadEnd::kComplete || !RecordFinished()) return false;
  for (int32_t zoom = zoom_ + 1; zoom <= set_.zooms.last; ++zoom) {
    if (set_.finished.count(zoom) > 0) continue;
    end_ = DownloadEnd::kStopped;
    return !stopWanted && StartLevel(zoom);
  }
  return false;
}

bool LevelSetRun::RecordFinished() {
  set_.finished.insert(zoom_);
  try {
    RecordFinishedLevel(setFile_, set_);
    return true;
  } catch (const qm::FileError& e) {
    // The level's own files say it is complete: a later Start continues it with nothing left.
    set_.finished.erase(zoom_);
    end_ = DownloadEnd::kFileError;
    view_.ShowError(e.what());
    return false;
  }
}

int64_t LevelSetRun::LevelTiles(int32_t zoom) const {
  const auto index = static_cast<size_t>(zoom - set_.zooms.first);
  return index < levelTiles_.size() ? levelTiles_[index] : 0;
}

int64_t LevelSetRun::FinishedTiles() const {
  int64_t tiles = 0;
  for (const int32_t zoom : set_.finished) tiles += LevelTiles(zoom);
  return tiles;
}

std::string LevelSetRun::LevelFile(int32_t zoom, const std::string& suffix) const {
  return qm::WithTrailingSeparator(set_.Folder) + TaskStem(LevelTaskName(set_.TaskName, zoom)) + suffix;
}

std::string LevelSetRun::LogFile() const { return LevelFile(zoom_, "_log.txt"); }

std::string LevelSetRun::CompleteText() const {
  return "All " + std::to_string(set_.zooms.LevelCount()) + " levels are complete: " + GroupedCount(progress_.Total()) +
         " tiles";
}

std::string LevelSetRun::LevelText() const {
  return "level " + std::to_string(zoom_ - set_.zooms.first + 1) + " of " + std::to_string(set_.zooms.LevelCount()) +
         ", zoom " + std::to_string(zoom_);
}

RunSummary LevelSetRun::Summary() const {
  RunSummary s{end_, progress_.Done(), progress_.Total(), 0, runCounts_, 0, ""};
  s.doneBefore = s.done - runCounts_.Done();
  s.seconds = std::chrono::duration<double>(lastUpdate_ - started_).count();
  for (const std::string& file : failedFiles_) s.failedFile += (s.failedFile.empty() ? "" : ", ") + file;
  return s;
}
