// A file written under a hidden name beside its target, ".NAME.PID.partial", locked by its writer
// for as long as it writes, and renamed over the target only once complete and flushed to disk.
// What a killed writer left behind is found by the next run in that folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class PartialFile {
 public:
  // Creates the hidden file and takes its lock; throws MosaicError "Cannot create file <target>".
  explicit PartialFile(std::string target);
  ~PartialFile();  // removes the hidden file unless committed
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  const std::string& Path() const { return path_; }
  const std::string& Target() const { return target_; }
  // Buffered writing of content made here; another writer may fill Path() by its name instead.
  void Append(std::string_view data);
  // Flushes the content to disk, renames it over the target and flushes the folder. Throws
  // MosaicError "Unable to write to <target>" with the reason.
  void Commit();

 private:
  void WriteBuffer();

  std::string target_;
  std::string path_;
  std::string buffer_;
  int fd_ = -1;
  bool committed_ = false;
};

// The hidden name beside target that this process writes it under.
std::string PartialPathFor(const std::string& target);

// A hidden partial file of another run found in a folder.
struct LeftoverPartial {
  std::string path;
  int64_t bytes = 0;
  bool removed = false;  // its writer had ended; otherwise it is still being written
};

// Removes the partial files in folder whose writers have ended, and names those still being
// written; one line for each in LeftoverText.
std::vector<LeftoverPartial> ClearLeftoverPartials(const std::string& folder);
std::string LeftoverText(const LeftoverPartial& leftover);

// A message with its reason in brackets, when there is one.
std::string WithReason(const std::string& text, const std::string& reason);
// "Unable to write to <path>", with the reason when there is one.
std::string UnableToWriteBecause(const std::string& path, const std::string& reason);
