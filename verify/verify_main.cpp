// quillmere-verify: the tile check on its own, so that the command line, which hands its verify
// command over to it, does not load the image libraries for every other command; a refresh asks
// it to judge the tiles a server sends.
#include <CLI/CLI.hpp>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include "download/tile_judge.h"
#include "platform/program_layout.h"
#include "verify/tile_check.h"
#include "verify/verify_command.h"

int main(int argc, char* argv[]) {
  // The judge of a refresh's tiles: it ends when its caller closes the conversation, so a stop
  // signal sent to the caller's process group leaves it to its caller.
  if (argc == 2 && std::strcmp(argv[1], kJudgeFlag) == 0) {
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);
    return ServeTileJudgements(STDIN_FILENO, STDOUT_FILENO) ? 0 : 1;
  }
  CLI::App app{"Decodes every stored tile of a project or level set; lists the damaged ones in NAME_verify.ftl."};
  std::string file;
  VerifyOptions options;
  options.configFile = qm::ConfigFilePath(qm::DataFolder());
  app.add_option("project", file, "the task's .qmtp file, or a level set's .qmset file")->required();
  app.add_option("--config", options.configFile, "settings file")->capture_default_str();
  app.add_option("--server", options.server, "a saved server of the settings to take the URLs from");
  app.add_flag("--quiet", options.quiet, "print errors only");
  try {
    app.parse(argc, argv);
    return RunVerify(file, options);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillmere-verify: %s\n", e.what());
    return 5;
  }
}
