// The project file and log texts, and the writers of the four task files.
#include "engine/task_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <utility>

#include "engine/Unitclasstask.h"
#include "engine/tile_server_setting.h"
#include "platform/date_time.h"
#include "platform/file_ops.h"
#include "platform/text_format.h"
#include "platform/text_lines.h"

namespace {

// Collects CR LF terminated lines.
class LineText {
 public:
  LineText& operator<<(std::string_view line) {
    text_.append(line).append(kLineEnd);
    return *this;
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

std::string Number(int64_t value) { return std::to_string(value); }

void AddProxyLines(LineText& lines, const TDownParams& p) {
  // The password is never written in clear: the log is a plain file others may read.
  const std::string password = p.ProxyPassword.empty() ? "" : std::string(kHiddenPassword);
  lines << "Using Proxy:"
        << "Proxy Server:" + p.ProxyServer
        << "Proxy Port:" + p.ProxyPort
        << "ProxyUsername:" + p.ProxyUsername
        << "ProxyPassword:" + password
        << "";
}

std::string MetresText(double metres) { return qm::FormatG15(metres); }

// Names the area file and what it was made from; the tile count lets a continued task check that
// its area still covers the same tiles.
void AddAreaSection(LineText& lines, const TDownTask& task) {
  const TaskArea& area = *task.Params->Area;
  lines << "[" + std::string(kAreaSection) + "]"
        << "File=" + qm::ExtractFileName(task.AreaFile)
        << "Source=" + area.source
        << "Buffer=" + MetresText(area.bufferMetres)
        << "Tiles=" + Number(task.TotalCount)
        << "Digest=" + AreaDigest(area.geoJson) << "";
}

std::string AreaLogText(const TDownTask& task) {
  const TaskArea& area = *task.Params->Area;
  std::string text = "Area from " + area.source;
  if (area.bufferMetres > 0) text += ", lines and points widened by " + MetresText(area.bufferMetres) + " m";
  text += ": only the tiles inside it, its shape kept in " + task.AreaFile;
  AreaEstimate kept;
  kept.inArea = true;
  kept.tiles = task.TotalCount;
  kept.areaTiles = area.coverAt(task.Params->Zoom).Tiles();
  if (const std::optional<std::string> cut = AreaCutText({kept})) text += "; " + *cut;
  return text;
}

}  // namespace

std::string ProjectFileText(const TDownTask& task) {
  using qm::FormatF20;
  using qm::FormatG15;
  const TDownParams& p = *task.Params;
  LineText lines;
  lines << "[MapsType]" << "MapsType=" + Number(p.MapsType) << "";
  lines << "[AREA]"
        << "LeftLongitude=" + FormatG15(p.LeftLongitude)
        << "RightLongitude=" + FormatG15(p.RightLongitude)
        << "TopLatitude=" + FormatG15(p.TopLatitude)
        << "BottomLatitude=" + FormatG15(p.BottomLatitude) << "";
  lines << "Left_Longitude_download=" + FormatF20(task.Left_Longitude_download)
        << "Right_Longitude_download=" + FormatF20(task.Right_Longitude_download)
        << "Top_Latitude_download=" + FormatF20(task.Top_Latitude_download)
        << "Bottom_Latitude_download=" + FormatF20(task.Bottom_Latitude_download) << "";
  lines << "[Zoom]" << "Zoom=" + Number(p.Zoom) << "";
  lines << "[XY]"
        << "MinX=" + Number(task.MinX) << "MinY=" + Number(task.MinY)
        << "MaxX=" + Number(task.MaxX) << "MaxY=" + Number(task.MaxY) << "";
  lines << "[THREADS]" << "ThreadCount=" + Number(p.ThreadCount);
  for (int32_t n = 1; n <= p.ThreadSlots; ++n) {
    lines << "T" + Number(n) + "X=" << "T" + Number(n) + "Y=";
  }
  lines << "";
  if (task.Cover) AddAreaSection(lines, task);
  return lines.Take();
}

std::string LogHeaderText(const TDownTask& task, const std::string& nowText) {
  using qm::FormatG15;
  const TDownParams& p = *task.Params;
  LineText lines;
  lines << "Project: " + task.ProjectFile() << "Now time is:" + nowText << "";
  lines << "[MapsType]" << "MapsType=" + Number(p.MapsType) << "";
  if (p.UseProxy) AddProxyLines(lines, p);
  lines << "Left Longitude  input= " + FormatG15(p.LeftLongitude)
        << "Right Longitude input= " + FormatG15(p.RightLongitude)
        << "Top Latitude    input= " + FormatG15(p.TopLatitude)
        << "Bottom Latitude input= " + FormatG15(p.BottomLatitude) << "";
  lines << "MinX = " + Number(task.MinX) << "MinY = " + Number(task.MinY)
        << "MaxX = " + Number(task.MaxX) << "MaxY = " + Number(task.MaxY) << "";
  lines << "Left Longitude  download=" + FormatG15(task.Left_Longitude_download)
        << "Right Longitude download=" + FormatG15(task.Right_Longitude_download)
        << "Top Latitude    download=" + FormatG15(task.Top_Latitude_download)
        << "Bottom Latitude download=" + FormatG15(task.Bottom_Latitude_download) << "";
  lines << "All images' scope information are saved to " + task.ListFile << "";
  lines << "Total count of images would be downloaded: " + Number(task.TotalCount) << "";
  if (task.Cover) lines << AreaLogText(task) << "";
  lines << "Download threads count: " + Number(p.ThreadCount) << "";
  lines << "Zoom level: " + Number(p.Zoom) << "";
  lines << "path: " + p.SavePath << "";
  lines << "Start downloading..." << std::string(34, '~');
  return lines.Take();
}

std::string LogContinuationText(const std::string& nowText) {
  LineText lines;
  lines << std::string(44, '-') << "Log continue..." << "Now time is:" + nowText;
  return lines.Take();
}

std::string ContinuedLogText(std::string existingLog, const std::string& nowText) {
  // A log whose last line lost its line end still gets the block on lines of its own.
  if (!existingLog.empty() && existingLog.back() != '\n') existingLog.append(kLineEnd);
  return existingLog + LogContinuationText(nowText);
}

void WriteProjectFile(const TDownTask& task) {
  if (task.Params->Resume) return;
  // The area file first: a project that names it finds it.
  if (task.Cover) qm::WriteFileAtomic(task.AreaFile, task.Params->Area->geoJson);
  qm::WriteFileAtomic(task.ProjectFile(), ProjectFileText(task));
}

void WriteListFile(const TDownTask& task) { PendingTileList(task, nullptr).Commit(); }

PendingTileList::PendingTileList(const TDownTask& task, const std::function<bool(int64_t)>& keepGoing) {
  if (task.Params->Resume) return;
  file_ = std::make_unique<qm::AtomicFileWriter>(task.ListFile);
  cancelled_ = !StreamTileList(task, [this](std::string_view piece) { file_->Write(piece); }, keepGoing);
  if (cancelled_) file_.reset();
}

PendingTileList::~PendingTileList() = default;

void PendingTileList::Commit() {
  if (file_) file_->Commit();
  file_.reset();
}

void WriteLogHeader(const TDownTask& task) {
  if (task.Params->Resume) {
    std::string existing = qm::ReadFileUpTo(task.LogFile, qm::kMaxListFileBytes, qm::Links::kRefused);
    qm::WriteFileAtomic(task.LogFile, ContinuedLogText(std::move(existing), qm::NowDateTimeText()));
    return;
  }
  qm::WriteFileAtomic(task.LogFile, LogHeaderText(task, qm::NowDateTimeText()));
}

void CreateFailedList(const TDownTask& task) {
  const bool secret = TileUrlsCarrySecrets(task.Params->TileServer);
  if (task.Params->Resume) {
    // A continued list gets the URLs of the present setting too.
    // Never through a link planted in the list's place.
    if (secret) ::fchmodat(AT_FDCWD, task.FailedFile.c_str(), 0600, AT_SYMLINK_NOFOLLOW);
    return;
  }
  qm::WriteFileAtomic(task.FailedFile, "", secret ? qm::FileAccess::kOwnerOnly : qm::FileAccess::kAsBefore);
}
