// The end-of-download summary and its tile server hint.
#include "download/download_summary.h"

#include "engine/area_input.h"

namespace {

constexpr const char* kSeeOptions = ": check Options → Tile server";

const char* HowItEnded(DownloadEnd end) {
  switch (end) {
    case DownloadEnd::kComplete:
      return "Download complete";
    case DownloadEnd::kStopped:
      return "Download stopped";
    case DownloadEnd::kRefused:
      return "Refused by the server";
    case DownloadEnd::kNetworkFailure:
      return "Ended by a network failure";
    case DownloadEnd::kFileError:
      return "Ended by a file error";
  }
  return "Download ended";
}

}  // namespace

RunSummary SummaryOf(DownloadEnd end, const DownloadProgress& progress, int64_t failedListed,
                     const std::string& failedFile) {
  RunSummary s{end, progress.Done(), progress.Total(), progress.DoneBefore(), progress.Counts(),
               progress.ElapsedSeconds(), failedFile};
  s.run.failed = failedListed;
  return s;
}

std::string TileServerHint(const TileCounts& run) {
  const int64_t finished = run.stored + run.blank;
  // Nine in ten not found: a URL that points at nothing rather than a few empty places.
  if (run.blank > 0 && run.blank * 10 >= finished * 9) {
    return GroupedCount(run.blank) + " of " + GroupedCount(finished) + " tiles were not found on the server" +
           kSeeOptions;
  }
  if (run.notImages > 0) {
    return GroupedCount(run.notImages) + (run.notImages == 1 ? " stored answer is" : " stored answers are") +
           " not an image" + kSeeOptions;
  }
  return "";
}

std::string SummaryText(const RunSummary& s) {
  std::string text = std::string(HowItEnded(s.end)) + ": " + GroupedCount(s.done) + " of " + GroupedCount(s.total) +
                     " tiles";
  if (s.doneBefore > 0) {
    text += ": " + GroupedCount(s.doneBefore) + " before this run; this run " + CountsText(s.run);
  } else {
    text += " (" + CountsText(s.run) + ")";
  }
  text += " in " + DurationText(s.seconds);
  if (s.run.failed > 0 || s.end == DownloadEnd::kRefused || s.end == DownloadEnd::kNetworkFailure) {
    text += " · failed tiles listed in " + s.failedFile;
  }
  if (const std::string hint = TileServerHint(s.run); !hint.empty()) text += " · " + hint;
  return text;
}
