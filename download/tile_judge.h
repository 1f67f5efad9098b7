// Judging a tile that a server sent by decoding it, as verify judges a stored tile. The decoding
// is done by quillmere-verify beside the program, one process for a whole run, so that only that
// process loads the image libraries and reads what a server sent.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>

// What the bytes are as a tile; kUnjudged when the judging program could not be asked.
enum class TileVerdict { kSound, kNotImage, kDamaged, kUnjudged };

// The conversation on the judge's standard input and output: each tile is sent as its length (8
// bytes, least significant first) and its bytes; each is answered by one byte, '0' + its verdict.
inline constexpr char kJudgeFlag[] = "--judge-tiles";
inline constexpr char kVerdictBase = '0';

class TileJudge {
 public:
  virtual ~TileJudge() = default;
  // From any thread.
  virtual TileVerdict Judge(const std::string& bytes) = 0;
};

// The judging program, started at the first tile and again after it ended (a tile that made it
// fail is unjudged); it ends when its judge goes away.
class TileJudgeProgram final : public TileJudge {
 public:
  // QUILLMERE_VERIFY_PROGRAM names the program for programs that do not lie beside it (the tests).
  TileJudgeProgram();
  ~TileJudgeProgram() override;
  TileJudgeProgram(const TileJudgeProgram&) = delete;
  TileJudgeProgram& operator=(const TileJudgeProgram&) = delete;

  TileVerdict Judge(const std::string& bytes) override;
  const std::string& Program() const { return program_; }

 private:
  bool Start();
  void End();

  const std::string program_;
  std::mutex mutex_;  // one tile at a time
  int socket_ = -1;
  pid_t pid_ = -1;
};
