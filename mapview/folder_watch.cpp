// inotify, non-blocking.
#include "mapview/folder_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <utility>

namespace mapview {

FolderWatch::FolderWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) ::close(fd_);
}

bool FolderWatch::Watch(const std::string& folder, bool* isNew) {
  if (fd_ < 0) return false;
  const int wd = ::inotify_add_watch(fd_, folder.c_str(),
                                     IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_MODIFY);
  if (wd < 0) return false;
  if (isNew) *isNew = folders_.count(wd) == 0;
  folders_[wd] = folder;
  return true;
}

std::vector<FolderChange> FolderWatch::Changes(bool& overflowed) {
  overflowed = false;
  std::vector<FolderChange> events;
  alignas(inotify_event) char buffer[64 * 1024];
  while (fd_ >= 0) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) overflowed = true;
      const auto folder = folders_.find(event->wd);
      if (folder == folders_.end()) continue;
      if (event->mask & IN_IGNORED) {
        events.push_back({folder->second, ""});
        folders_.erase(folder);
      } else if (event->len > 0) {
        events.push_back({folder->second, event->name});
      }
    }
  }
  return LatestOfEach(std::move(events));
}

// The order matters: a folder that went away and came back again must be reported gone first and
// created last, so each change keeps the place of its latest event.
std::vector<FolderChange> LatestOfEach(std::vector<FolderChange> events) {
  std::set<std::pair<std::string, std::string>> seen;
  std::vector<FolderChange> changes;
  for (auto event = events.rbegin(); event != events.rend(); ++event) {
    if (seen.emplace(event->folder, event->name).second) changes.push_back(std::move(*event));
  }
  std::reverse(changes.begin(), changes.end());
  return changes;
}

}  // namespace mapview
