// Workers and the proxy settings: used with credentials when UseProxy is set, ignored otherwise.
#include <gtest/gtest.h>

#include "tests/support/test_server.h"
#include "tests/support/worker_harness.h"

namespace {

using qmtest::TestServer;
using qmtest::WorkerHarness;

void FillProxy(TDownParams& params, const TestServer& proxy) {
  params.ProxyServer = "127.0.0.1";
  params.ProxyPort = std::to_string(proxy.Port());
  params.ProxyUsername = "walker";
  params.ProxyPassword = "s3cret";
}

TEST(WorkerProxyTest, RequestsGoThroughTheProxyWithCredentials) {
  TestServer proxy;
  proxy.RequireProxyAuthorization("walker", "s3cret");
  WorkerHarness run("tiles.invalid:8080", 1, 2, 1);
  run.params.UseProxy = true;
  FillProxy(run.params, proxy);
  run.Start();
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(run.host.log, (std::vector<std::string>{"T1:seq=1,kv_2412_3080_13.jpg OK",
                                                    "T1:seq=2,kv_2412_3081_13.jpg OK",
                                                    "T1 Finished."}));
  auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& r : requests) {
    EXPECT_TRUE(r.proxyForm);
    EXPECT_EQ(r.Header("Proxy-Authorization"), "Basic " + qmtest::Base64("walker:s3cret"));
    EXPECT_EQ(r.answeredStatus, 200);
  }
  EXPECT_EQ(requests[0].target, run.Url(WorkerHarness::kMinX, WorkerHarness::kMinY));
}

TEST(WorkerProxyTest, ProxyValuesAreIgnoredWithoutUseProxy) {
  TestServer proxy;
  TestServer tiles;
  WorkerHarness run(tiles.HostPort(), 1, 2, 1);
  run.params.UseProxy = false;
  FillProxy(run.params, proxy);
  run.params.ProxyPort = "not a port";  // not even read
  run.Start();
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(run.host.log.size(), 3u);
  EXPECT_EQ(proxy.RequestCount(), 0u);
  auto requests = tiles.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_FALSE(requests[0].proxyForm);
  EXPECT_FALSE(requests[0].Header("Proxy-Authorization"));
}

}  // namespace
