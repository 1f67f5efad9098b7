// The controller test rig.
#include "tests/support/controller_fixture.h"

#include "platform/file_ops.h"
#include "platform/ini_file.h"

namespace qmtest {

StartInputs ExampleInputs(const TempDir& dir, const std::string& taskName) {
  StartInputs in;
  in.LeftLongitude = "-74";  // as the project file stores it, so a restart continues
  in.RightLongitude = "-73.9";
  in.TopLatitude = "40.7";
  in.BottomLatitude = "40.6";
  in.Zoom = "13";
  in.Folder = dir.File("maps");
  in.TaskName = taskName;
  return in;
}

std::string WriteConfig(const TempDir& dir, const std::string& tileServer) {
  qm::CreateDirectory(dir.File("ini"));
  qm::IniFile config(dir.File("ini/config.ini"));
  config.WriteString("IniParas", "TileServer", tileServer);
  return config.Path();
}

std::string WriteConfig(const TempDir& dir, const TestServer& server, const std::string& proxy) {
  qm::IniFile config(WriteConfig(dir, server.HostPort()));
  if (!proxy.empty()) {
    config.WriteString("Proxy", "UseProxy", "1");
    config.WriteString("Proxy", "ProxyServer", "127.0.0.1");
    config.WriteString("Proxy", "ProxyPort", proxy);
  }
  return config.Path();
}

ControllerRig::ControllerRig(const TempDir& dir, const TestServer& server, DownloadPauses pauses)
    : controller(view, bridge, WriteConfig(dir, server), pauses) {}

ControllerRig::ControllerRig(const TempDir& dir, const std::string& tileServer, DownloadPauses pauses)
    : controller(view, bridge, WriteConfig(dir, tileServer), pauses) {}

ControllerRig::~ControllerRig() {
  controller.ShutDown([this] { bridge.Pump(); });
}

bool ControllerRig::RunToEnd(std::chrono::milliseconds timeout) {
  if (!bridge.PumpUntil([this] { return controller.RunningThreads() == 0; }, timeout)) return false;
  for (int tick = 0; tick < 10 && controller.Running(); ++tick) controller.Timer1Timer();
  return !controller.Running();
}

bool ControllerRig::StartResumesAndEnds(const StartInputs& inputs) {
  controller.BitBtn1Click(inputs);
  const bool resumed = controller.Running() && controller.CurrentParams()->Resume;
  return RunToEnd() && resumed;
}

bool ControllerRig::StartAndAwaitRequests(const StartInputs& inputs, const TestServer& server, size_t n) {
  controller.BitBtn1Click(inputs);
  return bridge.PumpUntil([&] { return server.RequestCount() >= n; }, std::chrono::seconds(10));
}

}  // namespace qmtest
