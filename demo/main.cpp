// quillmere-tileserver: serves map tiles on the tile source's URLs, for trying the program
// without an outside service, or to put a downloaded area back on the network.
#include <signal.h>
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "demo/http_tile_server.h"
#include "platform/regular_file.h"
#include "demo/tile_provider.h"
#include "platform/file_ops.h"

namespace {

constexpr const char* kBlueMarble = "/usr/share/xplanet/images/earth.jpg";
constexpr size_t kCacheBytes = size_t{256} << 20;
// Far above any PEM certificate chain or key, far below what would take long to read.
constexpr uint64_t kMaxTlsFileBytes = uint64_t{1} << 20;

struct Options {
  uint16_t port = 8080;
  std::string bind = "127.0.0.1";
  std::string image = kBlueMarble;
  std::string tiles;
  std::vector<std::string> tls;  // certificate and key files
};

std::optional<TlsIdentity> ReadTls(const Options& options) {
  if (options.tls.empty()) return std::nullopt;
  return TlsIdentity{ReadSmallRegularFile(options.tls[0], kMaxTlsFileBytes),
                     ReadSmallRegularFile(options.tls[1], kMaxTlsFileBytes)};
}

std::unique_ptr<TileProvider> MakeProvider(const Options& options) {
  if (!options.tiles.empty()) return std::make_unique<FolderTiles>(options.tiles);
  if (options.image == kBlueMarble && !qm::PathExists(kBlueMarble)) {
    throw std::runtime_error(std::string("Cannot open file ") + kBlueMarble +
                             ": install Debian's xplanet-images package, or name a world image with --image");
  }
  return std::make_unique<RenderedTiles>(options.image, kCacheBytes);
}

// Every connection holds a descriptor: allow as many open files as the system lets this user.
void RaiseOpenFileLimit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

// Blocks SIGINT and SIGTERM in every thread (the server's threads inherit the mask) and waits
// for one of them here.
sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

int Serve(int argc, char* argv[]) {
  Options options;
  CLI::App app{"Serves 256x256 JPEG map tiles on the URLs that Quillmere requests."};
  app.add_option("--port", options.port, "TCP port; 0 picks a free one")->capture_default_str();
  app.add_option("--bind", options.bind, "IPv4 address to listen on")->capture_default_str();
  auto* image = app.add_option("--image", options.image, "equirectangular world image (JPEG)")
                    ->capture_default_str();
  app.add_option("--tiles", options.tiles, "serve the kv_X_Y_Z.jpg files of this tile folder instead")
      ->check(CLI::ExistingDirectory)
      ->excludes(image);
  app.add_option("--tls", options.tls, "answer over HTTPS with this certificate and private key (PEM files)")
      ->expected(2)
      ->check(CLI::ExistingFile);
  CLI11_PARSE(app, argc, argv);

  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  RaiseOpenFileLimit();
  const std::unique_ptr<TileProvider> provider = MakeProvider(options);
  const std::optional<TlsIdentity> tls = ReadTls(options);
  HttpTileServer server(*provider, options.bind, options.port, tls ? &*tls : nullptr);
  std::printf("quillmere-tileserver: serving %s on %s://%s:%u/ (Ctrl+C stops)\n", provider->Description().c_str(),
              tls ? "https" : "http", options.bind.c_str(), server.Port());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  try {
    return Serve(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "quillmere-tileserver: out of memory\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillmere-tileserver: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "quillmere-tileserver: stopped by an unexpected error\n");
  }
  return 1;
}
