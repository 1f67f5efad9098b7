// The form of the tile server setting: what the Options dialog accepts and refuses.
#include "engine/tile_server_setting.h"

#include <gtest/gtest.h>

namespace {

TEST(TileServerSetting, AcceptsHostsWithOrWithoutAPortAndRefusesTheRest) {
  for (const char* good : {"localhost:8080", "localhost", "tiles.example.org", "10.0.0.7:80", "a-b.c:65535",
                           "[::1]:8080", "[2001:db8::1]"}) {
    EXPECT_FALSE(TileServerProblem(good)) << good;
  }
  for (const char* bad : {"", ":8080", "localhost:", "localhost:0", "localhost:65536", "localhost:+80",
                          "tiles.example.org/x", "two words", "-bad.org", "a..b",
                          "host:80:81", "[::1", "localhost:8080\r\n"}) {
    const auto problem = TileServerProblem(bad);
    ASSERT_TRUE(problem) << bad;
    EXPECT_NE(problem->find("should be a host name or host:port"), std::string::npos);
  }
}

TEST(TileServerSetting, UrlTemplatesNeedHttpAHostAndAllThreePlaceholders) {
  for (const char* good : {"https://tiles.example.org/imagery/{z}/{x}/{y}.jpg?key=abc", "http://127.0.0.1:8080/{z}/{y}/{x}",
                           "https://[::1]:8443/t?z={z}&x={x}&y={y}"}) {
    EXPECT_FALSE(TileServerProblem(good)) << good;
  }
  const auto problem = [](const char* text) { return TileServerProblem(text).value_or("accepted"); };
  EXPECT_EQ(problem("https://h.org/{z}/{x}"),
            "The tile server URL \"https://h.org/{z}/{x}\" should hold {z}, {x} and {y} (or {-y}), {q} or {bbox} "
            "in its path or query for the zoom, column and row; it lacks {y}.");
  EXPECT_EQ(problem("ftp://h.org/{z}/{x}/{y}"),
            "The tile server URL \"ftp://h.org/{z}/{x}/{y}\" should start with http:// or https://.");
  EXPECT_NE(problem("https://h.org/{z}/{x}/{y} .jpg").find("holds a space or a line break"), std::string::npos);
  EXPECT_NE(problem("https://h.org/{z}/{x}/{y}\r\n").find("holds a space or a line break"), std::string::npos);
  EXPECT_NE(problem("https://{z}.h.org/{x}/{y}").find("should name a host"), std::string::npos);
  EXPECT_NE(problem("https:///{z}/{x}/{y}").find("should name a host"), std::string::npos);
  EXPECT_NE(problem("http://tiles.example.org").find("it lacks {z}, {x}, {y}"), std::string::npos);

  EXPECT_EQ(MaskedUrl("https://t.org/13/1/2.jpg?key=abc&style=day&flag"), "https://t.org/13/1/2.jpg?key=***&style=***&flag");
  EXPECT_EQ(MaskedUrl("http://localhost:8080/a/13/1/2/256/png8"), "http://localhost:8080/a/13/1/2/256/png8");
  EXPECT_TRUE(TileUrlsCarrySecrets("https://t.org/{z}/{x}/{y}?key=abc"));
  EXPECT_FALSE(TileUrlsCarrySecrets("https://t.org/{z}/{x}/{y}"));
  EXPECT_FALSE(TileUrlsCarrySecrets("localhost:8080"));

  EXPECT_EQ(FilledTileUrl("https://t.org/{z}/{x}/{y}.jpg?key={k}&z={z}", 13, 4823, 3080),
            "https://t.org/13/4823/3080.jpg?key={k}&z=13");
}

}  // namespace
