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
                          "http://tiles.example.org", "tiles.example.org/x", "two words", "-bad.org", "a..b",
                          "host:80:81", "[::1", "localhost:8080\r\n"}) {
    const auto problem = TileServerProblem(bad);
    ASSERT_TRUE(problem) << bad;
    EXPECT_NE(problem->find("should be a host name or host:port"), std::string::npos);
  }
}

}  // namespace
