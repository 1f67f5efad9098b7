// Which files of some folders were created, replaced, written or removed: inotify, read without
// waiting whenever its descriptor is readable.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace mapview {

struct FolderChange {
  std::string folder;  // as given to Watch
  std::string name;    // empty when the folder itself went away and is no longer watched
};

// Each (folder, name) once, at the place of its last event.
std::vector<FolderChange> LatestOfEach(std::vector<FolderChange> events);

class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // False when the folder cannot be watched (it does not exist, or inotify is not available).
  // isNew tells whether the folder under that name was not watched yet (a folder made again is a
  // new one, even while the end of the old one has not been reported).
  bool Watch(const std::string& folder, bool* isNew = nullptr);
  int Descriptor() const { return fd_; }
  // The changes since the last call in the order they happened, each file once (at its latest
  // change). overflowed is set when the kernel dropped
  // events, and everything must be looked at again.
  std::vector<FolderChange> Changes(bool& overflowed);

 private:
  int fd_ = -1;
  std::unordered_map<int, std::string> folders_;
};

}  // namespace mapview
