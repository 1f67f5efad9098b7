// Tile services as they are: every placeholder as the server receives it, saved servers with their
// headers in the settings file, and downloads that use the chosen server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "download/redownload_run.h"
#include "engine/saved_server_sections.h"
#include "engine/saved_servers.h"
#include "engine/tile_server_setting.h"
#include "engine/tile_source.h"
#include "engine/url_placeholders.h"
#include "platform/file_ops.h"
#include "platform/http_client.h"
#include "platform/ini_file.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::ControllerRig;
using qmtest::ExampleInputs;
using qmtest::TestServer;

struct CornerTile {
  int zoom;
  int32_t x, y;
  const char* expectedPath;  // as the server records it
};

TEST(TilePlaceholders, ReachTheServerFilledForTheGridCornersAtZoomsZeroOneAndNineteen) {
  qm::HttpGlobalInit();
  TestServer server;
  const std::string urlTemplate =
      "http://" + server.HostPort() + "/{s}/{switch:t0,t1}/{z}/{x}/{y}/{-y}/q{q}.png?SERVICE=WMS&BBOX={bbox}";
  ASSERT_FALSE(TileServerProblem(urlTemplate)) << *TileServerProblem(urlTemplate);
  const CornerTile corners[] = {
      {0, 0, 0, "/a/t0/0/0/0/0/q.png?SERVICE=WMS&BBOX=-20037508.342789,-20037508.342789,20037508.342789,20037508.342789"},
      {1, 1, 0, "/b/t1/1/1/0/1/q1.png?SERVICE=WMS&BBOX=0.000000,0.000000,20037508.342789,20037508.342789"},
      {1, 0, 1, "/b/t1/1/0/1/0/q2.png?SERVICE=WMS&BBOX=-20037508.342789,-20037508.342789,0.000000,0.000000"},
      {1, 1, 1, "/c/t0/1/1/1/0/q3.png?SERVICE=WMS&BBOX=0.000000,-20037508.342789,20037508.342789,0.000000"},
      {19, 524287, 524287,
       "/c/t0/19/524287/524287/0/q3333333333333333333.png?SERVICE=WMS&"
       "BBOX=20037431.905761,-20037508.342789,20037508.342789,-20037431.905761"},
      {19, 0, 524287,
       "/b/t1/19/0/524287/0/q2222222222222222222.png?SERVICE=WMS&"
       "BBOX=-20037508.342789,-20037508.342789,-20037431.905761,-20037431.905761"},
      {19, 524287, 0,
       "/b/t1/19/524287/0/524287/q1111111111111111111.png?SERVICE=WMS&"
       "BBOX=20037431.905761,20037431.905761,20037508.342789,20037508.342789"},
  };
  qm::HttpClient client;
  for (const CornerTile& tile : corners) {
    std::string body;
    ASSERT_TRUE(client.Get(SatelliteTileUrl(urlTemplate, tile.zoom, tile.x, tile.y), body).ok);
  }
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), std::size(corners));
  for (size_t i = 0; i < requests.size(); ++i) EXPECT_EQ(requests[i].path, corners[i].expectedPath);

  // A saved server's own subdomains replace the default ones.
  EXPECT_EQ(SatelliteTileUrl(WithSubdomains("https://{s}.t.org/{z}/{x}/{y}", "mt0,mt1"), 3, 1, 2),
            "https://mt1.t.org/3/1/2");
  // Written as they are, empty names too, so that the template's check sees them.
  EXPECT_EQ(WithSubdomains("https://{s}.t.org/{q}", ",,"), "https://{switch:,,}.t.org/{q}");
  EXPECT_EQ(WithSubdomains("https://{s}.t.org/{q}", ""), "https://{switch:}.t.org/{q}");
}

// The four tiles that meet at the origin, at every zoom: their edges on the axes are 0.000000, and
// a tile's edge is printed as its neighbour prints the same edge.
TEST(TilePlaceholders, BoundingBoxesMeetAtTheOriginWithoutANegativeZero) {
  const auto edges = [](int zoom, int64_t x, int64_t y) {
    std::vector<std::string> parts;
    std::stringstream box(TileBoundingBox(zoom, x, y));
    for (std::string part; std::getline(box, part, ',');) parts.push_back(part);
    return parts;  // minx, miny, maxx, maxy
  };
  for (int zoom = 1; zoom <= 30; ++zoom) {
    const int64_t half = int64_t{1} << (zoom - 1);
    const auto northWest = edges(zoom, half - 1, half - 1), southEast = edges(zoom, half, half);
    ASSERT_EQ(northWest.size(), 4u);
    EXPECT_EQ(northWest[1], "0.000000") << zoom;
    EXPECT_EQ(northWest[2], "0.000000") << zoom;
    EXPECT_EQ(southEast[0], "0.000000") << zoom;
    EXPECT_EQ(southEast[3], "0.000000") << zoom;
    EXPECT_EQ(edges(zoom, half, half - 1)[1], "0.000000") << zoom;
    EXPECT_EQ(edges(zoom, half - 1, half)[2], "0.000000") << zoom;
    EXPECT_EQ(edges(zoom, 3, 5)[2], edges(zoom, 4, 5)[0]) << zoom;
    EXPECT_EQ(edges(zoom, 3, 5)[1], edges(zoom, 3, 6)[3]) << zoom;
  }
}

// The coarsest level's digit comes first: tile 3,5 at zoom 3 is "213", never "312".
TEST(TilePlaceholders, AQuadkeyBeginsWithTheCoarsestLevel) {
  EXPECT_EQ(SatelliteTileUrl("https://t.org/{q}", 3, 3, 5), "https://t.org/213");
  EXPECT_EQ(SatelliteTileUrl("https://t.org/{q}", 5, 1, 0), "https://t.org/00001");
}

TEST(TilePlaceholders, UnknownOrUnclosedOnesAreRefusedByName) {
  const auto problem = [](const std::string& text) { return TileServerProblem(text).value_or("accepted"); };
  EXPECT_EQ(problem("https://{s}.t.org/{q}.jpeg"), "accepted");
  EXPECT_EQ(problem("https://{switch:a,b}.t.org/wms?BBOX={bbox}&WIDTH=256"), "accepted");
  EXPECT_EQ(problem("https://t.org/{z}/{x}/{-y}.png"), "accepted");
  EXPECT_NE(problem("https://t.org/{z}/{x}/{y}.png?key={apikey}").find("unknown placeholder {apikey}"),
            std::string::npos);
  EXPECT_NE(problem("https://t.org/{z}/{x}/{y").find("\"{\" without its \"}\""), std::string::npos);
  EXPECT_NE(problem("https://t.org/{switch:a,,b}/{z}/{x}/{y}").find("{switch:a,,b}"), std::string::npos);
  EXPECT_NE(problem("https://{z}.t.org/{x}/{y}").find("should name a host"), std::string::npos);
  EXPECT_NE(problem("https://{switch:a,,b}.t.org/{z}/{x}/{y}").find("one of them is empty"), std::string::npos);
}

class SettingsFolder : public ::testing::Test {
 protected:
  std::string Config() const { return dir.File("config.ini"); }
  TempDir dir;
};

TEST_F(SettingsFolder, ServersAreStoredEditedAndRemovedLeavingOtherLinesAsTheyWere) {
  const std::string before = "[IniParas]\r\nTileServer=localhost:8080\r\n; kept\r\n[Proxy]\r\nUseProxy=0\r\n";
  qm::WriteFileAtomic(Config(), before);
  SavedServer imagery = NewSavedServer("Imagery");
  imagery.url = "https://{s}.img.example.org/{z}/{x}/{y}.jpg";
  imagery.subdomains = "t0,t1";
  imagery.maxZoom = 19;
  imagery.attribution = "Imagery © Example";
  StoreSavedServer(Config(), "", imagery);
  SavedServer topo = NewSavedServer("Topo");
  topo.url = "topo.example.org:8080";
  StoreSavedServer(Config(), "", topo);

  std::vector<SavedServer> saved = ReadSavedServers(Config());
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].url, imagery.url);
  EXPECT_EQ(saved[0].subdomains, "t0,t1");
  EXPECT_EQ(saved[0].maxZoom, 19);
  EXPECT_EQ(saved[0].attribution, imagery.attribution);
  EXPECT_EQ(saved[0].headers, (RequestHeaders{{"User-Agent", DefaultUserAgent()}}));
  EXPECT_TRUE(qm::ReadWholeFile(Config()).starts_with(before));

  imagery.name = "Imagery 2";  // renamed in place, before Topo
  imagery.headers.emplace_back("X-Api-Key", "s3cret");
  StoreSavedServer(Config(), "imagery", imagery);
  saved = ReadSavedServers(Config());
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].name, "Imagery 2");
  EXPECT_EQ(saved[0].headers.back(), (std::pair<std::string, std::string>{"X-Api-Key", "s3cret"}));
  struct stat info {};
  ASSERT_EQ(::stat(Config().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "a header holds a key";

  RemoveSavedServer(Config(), "IMAGERY 2");
  RemoveSavedServer(Config(), "Topo");
  EXPECT_TRUE(ReadSavedServers(Config()).empty());
  EXPECT_EQ(qm::ReadWholeFile(Config()), before);
}

TEST_F(SettingsFolder, BadServersAreRefusedWithAMessageAndNothingWritten) {
  SavedServer first = NewSavedServer("First");
  first.url = "localhost:8080";
  StoreSavedServer(Config(), "", first);
  const std::string before = qm::ReadWholeFile(Config());
  const auto refusal = [&](const SavedServer& server) -> std::string {
    try {
      StoreSavedServer(Config(), "", server);
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "stored";
  };
  SavedServer bad = first;
  EXPECT_NE(refusal(bad).find("is saved already"), std::string::npos);
  bad.name = "Other";
  bad.headers = {{"X-Key", "a\r\nHost: evil"}};
  EXPECT_NE(refusal(bad).find("holds a line break"), std::string::npos);
  bad.headers = {{"Bad Name", "v"}};
  EXPECT_NE(refusal(bad).find("The header name \"Bad Name\""), std::string::npos);
  for (const char* field : {"Transfer-Encoding", "content-length", "Host", "Connection", "Keep-Alive", "TE", "Upgrade",
                            "Expect", "Trailer", "Proxy-Authorization"}) {
    bad.headers = {{field, "1"}};
    EXPECT_NE(refusal(bad).find("frames the request or its connection"), std::string::npos) << field;
  }
  bad.headers = {{"X-Key", "a\x1b[2Jb"}};
  EXPECT_NE(refusal(bad).find("holds a control character"), std::string::npos);
  bad.headers = {{"X-Key", "a\tb"}};
  bad.subdomains = ",,,";
  EXPECT_NE(refusal(bad).find("hold an empty name"), std::string::npos);
  bad.subdomains = "abc";
  bad.headers = {};
  bad.url = "https://t.org/{z}/{x}/{zz}";
  EXPECT_NE(refusal(bad).find("{zz}"), std::string::npos);
  bad.url = "localhost";
  bad.maxZoom = 31;
  EXPECT_NE(refusal(bad).find("0 to 30"), std::string::npos);
  bad.maxZoom = 5;
  bad.name = "a]b";
  EXPECT_NE(refusal(bad).find("should be at most"), std::string::npos);
  EXPECT_EQ(qm::ReadWholeFile(Config()), before);

  RequestHeaders headers = {{"Kept", "1"}};
  EXPECT_TRUE(ParseHeaderLines("Referer: https://a.org/\nNo colon here\n", headers));
  EXPECT_EQ(headers, (RequestHeaders{{"Kept", "1"}}));
  EXPECT_FALSE(ParseHeaderLines(" X-Api-Key : k:1 \n\nReferer: https://a.org/", headers));
  EXPECT_EQ(headers, (RequestHeaders{{"X-Api-Key", "k:1"}, {"Referer", "https://a.org/"}}));
  EXPECT_EQ(MaskedHeaderLine(headers[0]), "X-Api-Key: ***");
  EXPECT_EQ(MaskedHeaderLine(headers[1]), "Referer: https://a.org/");
}

TEST_F(SettingsFolder, ThePlainSettingTakesItsSubdomainsAndNoHeaders) {
  qm::WriteFileAtomic(Config(), "[IniParas]\r\nTileServer=https://{s}.t.org/{z}/{x}/{y}\r\n[TileServer]\r\nSubdomains=xy\r\n");
  const ServerInUse plain = ReadServerInUse(Config());
  EXPECT_EQ(plain.tileServer, "https://{switch:x,y}.t.org/{z}/{x}/{y}");
  EXPECT_TRUE(plain.headers.empty());
  EXPECT_THROW(ReadServerInUse(Config(), "Nowhere"), UnknownServer);
  qm::IniFile(Config()).WriteString("TileServer", "Subdomains", ",,,");
  EXPECT_THROW(ReadServerInUse(Config()), ServerRefused);
}

// A section edited by hand is refused when it is chosen, with what is wrong; other servers still serve.
TEST_F(SettingsFolder, AServerEditedByHandIsRefusedWhenChosenWithWhatIsWrong) {
  const std::pair<const char*, const char*> cases[] = {
      {"Header.Transfer-Encoding=chunked", "Transfer-Encoding cannot be a server's header"},
      {"Header.Content-Length=50", "Content-Length cannot be a server's header"},
      {"Header.Host=elsewhere.example.org", "Host cannot be a server's header"},
      {"Header.X-A: injected=1", "The header name \"X-A: injected\""},
      {"Subdomains=,,,", "The subdomains \",,,\" hold an empty name"}};
  for (const auto& [key, expected] : cases) {
    qm::WriteFileAtomic(Config(), std::string("[Server Bad]\r\nUrl=https://{s}.t.org/{z}/{x}/{y}\r\n") + key +
                                      "\r\n[Server Good]\r\nUrl=localhost:8080\r\n");
    try {
      ReadServerInUse(Config(), "Bad");
      ADD_FAILURE() << key;
    } catch (const ServerRefused& e) {
      EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("\"Bad\""), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadServerInUse(Config(), "Good").tileServer, "localhost:8080");
  }
}

TEST_F(SettingsFolder, TheRedownloadSendsTheServersHeadersOverItsOwn) {
  const RequestHeaders headers = RedownloadHeaders({{"user-agent", "Mine/1"}, {"X-Api-Key", "k"}});
  ASSERT_EQ(headers.size(), 4u);
  EXPECT_EQ(headers[1].second, "Mine/1");
  EXPECT_EQ(headers[3], (std::pair<std::string, std::string>{"X-Api-Key", "k"}));
}

// The one tile 2412, 3080 of zoom 13.
StartInputs OneTile(const TempDir& dir) {
  StartInputs in = ExampleInputs(dir);
  in.RightLongitude = in.LeftLongitude;
  in.BottomLatitude = in.TopLatitude;
  return in;
}

void ChooseServer(const TempDir& dir, const SavedServer& server) {
  const std::string config = dir.File("ini/config.ini");
  StoreSavedServer(config, "", server);
  qm::IniFile(config).WriteString("IniParas", "Server", server.name);
}

TEST(ChosenServer, SendsItsHeadersWhichTheLogNeverShows) {
  TempDir dir;
  TestServer server;
  ControllerRig rig(dir, server);
  SavedServer keyed = NewSavedServer("Keyed");
  keyed.url = "http://" + server.HostPort() + "/k/{z}/{x}/{-y}.jpg";
  keyed.headers.emplace_back("X-Api-Key", "s3cret-key");
  ChooseServer(dir, keyed);
  const std::string path = "/k/13/2412/5111.jpg";  // 2^13 - 1 - 3080
  server.Script(path, std::vector(10, qmtest::ScriptedAnswer::Status(500)));
  rig.controller.BitBtn1Click(OneTile(dir));
  ASSERT_TRUE(rig.view.messages.empty()) << rig.view.messages[0];
  ASSERT_TRUE(rig.RunToEnd());
  const auto requests = server.RequestsFor(path);
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0].Header("X-Api-Key"), "s3cret-key");
  EXPECT_EQ(requests[0].Header("User-Agent"), DefaultUserAgent());
  const std::string log = qm::ReadWholeFile(rig.controller.CurrentTask()->LogFile);
  EXPECT_NE(log.find(path), std::string::npos) << log;
  EXPECT_EQ(log.find("s3cret-key"), std::string::npos) << log;
}

TEST(ChosenServer, AZoomBeyondItsHighestAMissingServerOrAFramingHeaderIsRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  TestServer server;
  ControllerRig rig(dir, server);
  SavedServer low = NewSavedServer("Low");
  low.url = server.HostPort();
  low.maxZoom = 12;
  ChooseServer(dir, low);
  const StartInputs in = OneTile(dir);
  rig.controller.BitBtn1Click(in);
  ASSERT_EQ(rig.view.messages.size(), 1u);
  EXPECT_EQ(rig.view.messages[0], "The server \"Low\" serves zoom levels up to 12; zoom 13 is beyond them.");

  qm::IniFile(dir.File("ini/config.ini")).WriteString("IniParas", "Server", "Gone");
  rig.controller.BitBtn1Click(in);
  ASSERT_EQ(rig.view.messages.size(), 2u);
  EXPECT_EQ(rig.view.messages[1], "There is no saved server named \"Gone\"; the saved servers are Low.");

  qm::IniFile(dir.File("ini/config.ini")).WriteString("IniParas", "Server", "Low");
  qm::IniFile(dir.File("ini/config.ini")).WriteString("Server Low", "Header.Transfer-Encoding", "chunked");
  rig.controller.BitBtn1Click(in);
  ASSERT_EQ(rig.view.messages.size(), 3u);
  EXPECT_NE(rig.view.messages[2].find("Transfer-Encoding cannot be a server's header"), std::string::npos);
  EXPECT_FALSE(qm::PathExists(in.Folder));
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(ChosenServer, APlainHostSendsTodaysRequestWithNoHeaderOfItsOwn) {
  TempDir dir;
  TestServer server;
  ControllerRig rig(dir, server);
  rig.controller.BitBtn1Click(OneTile(dir));
  ASSERT_TRUE(rig.RunToEnd());
  ASSERT_EQ(server.RequestCount(), 1u);
  const auto request = server.Requests()[0];
  EXPECT_EQ(request.path, TestServer::TilePath(13, 2412, 3080));
  std::vector<std::string> names;
  for (const auto& header : request.headers) names.push_back(header.first);
  EXPECT_EQ(names, (std::vector<std::string>{"Host", "Accept"}));
}

}  // namespace
