// Tests of the four task files: exact bytes for a small task, the proxy lines, continuing a task.
#include "engine/task_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "engine/Commonfunc.h"
#include "engine/Unitclasstask.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/text_format.h"
#include "tests/task_test_folder.h"

namespace {

using tasktest::FolderEntries;

// Zoom 13, columns 2412..2413, rows 3080..3081: four tiles, run by four workers.
TDownParams SmallParams(const std::string& savePath) {
  TDownParams p;
  p.LeftLongitude = -74;
  p.RightLongitude = -73.95;
  p.TopLatitude = 40.7;
  p.BottomLatitude = 40.67;
  p.Zoom = 13;
  p.ThreadCount = 4;
  p.SavePath = savePath;
  p.TaskName = "small.qmtp";
  return p;
}

// A general-format number as it appears with the environment's decimal separator.
std::string G(std::string text) {
  for (char& c : text) {
    if (c == '.') c = qm::SystemDecimalSeparator();
  }
  return text;
}

// Lines joined with CR LF after each.
std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string ExpectedProjectFile() {
  std::string text = Lines({
      "[MapsType]",
      "MapsType=4",
      "",
      "[AREA]",
      "LeftLongitude=" + G("-74"),
      "RightLongitude=" + G("-73.95"),
      "TopLatitude=" + G("40.7"),
      "BottomLatitude=" + G("40.67"),
      "",
      "Left_Longitude_download=  -74.00390625000000",
      "Right_Longitude_download=  -73.91601562500000",
      "Top_Latitude_download=   40.71395582628605",
      "Bottom_Latitude_download=   40.64730356252250",
      "",
      "[Zoom]",
      "Zoom=13",
      "",
      "[XY]",
      "MinX=2412",
      "MinY=3080",
      "MaxX=2413",
      "MaxY=3081",
      "",
      "[THREADS]",
      "ThreadCount=4",
  });
  for (int n = 1; n <= 8; ++n) {
    text += "T" + std::to_string(n) + "X=\r\nT" + std::to_string(n) + "Y=\r\n";
  }
  return text + "\r\n";
}

const char kExpectedTileList[] =
    "ImageFileName    Left_Edge_Longitude    Right_Edge_Longitude   Top_Edge_Latitude      "
    "Bottom_Edge_Latitude\r\n"
    "kv_2412_3080_13.jpg:   -74.00390625000000   -73.95996093750000    40.71395582628605    40.68063802521457\r\n"
    "kv_2412_3081_13.jpg:   -74.00390625000000   -73.95996093750000    40.68063802521457    40.64730356252250\r\n"
    "kv_2413_3080_13.jpg:   -73.95996093750000   -73.91601562500000    40.71395582628605    40.68063802521457\r\n"
    "kv_2413_3081_13.jpg:   -73.95996093750000   -73.91601562500000    40.68063802521457    40.64730356252250\r\n";

std::string ExpectedLogHeader(const std::string& s, const std::string& now,
                              std::initializer_list<std::string> proxyLines) {
  std::string text = Lines({"Project: " + s + "small.qmtp", "Now time is:" + now, "",
                            "[MapsType]", "MapsType=4", ""});
  text += Lines(proxyLines);
  return text + Lines({
                    "Left Longitude  input= " + G("-74"),
                    "Right Longitude input= " + G("-73.95"),
                    "Top Latitude    input= " + G("40.7"),
                    "Bottom Latitude input= " + G("40.67"),
                    "",
                    "MinX = 2412",
                    "MinY = 3080",
                    "MaxX = 2413",
                    "MaxY = 3081",
                    "",
                    "Left Longitude  download=" + G("-74.00390625"),
                    "Right Longitude download=" + G("-73.916015625"),
                    "Top Latitude    download=" + G("40.713955826286"),
                    "Bottom Latitude download=" + G("40.6473035625225"),
                    "",
                    "All images' scope information are saved to " + s + "small_list.txt",
                    "",
                    "Total count of images would be downloaded: 4",
                    "",
                    "Download threads count: 4",
                    "",
                    "Zoom level: 13",
                    "",
                    "path: " + s,
                    "",
                    "Start downloading...",
                    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~",
                });
}

// The log with its date line replaced by a fixed text.
std::string WithDateLine(std::string log, const std::string& now) {
  const std::string label = "\r\nNow time is:";
  const std::size_t start = log.find(label);
  if (start == std::string::npos) return log;
  const std::size_t textStart = start + label.size();
  const std::size_t end = log.find("\r\n", textStart);
  return log.replace(textStart, end - textStart, now);
}

void WriteAllFour(const TDownTask& task) {
  WriteProjectFile(task);
  WriteListFile(task);
  WriteLogHeader(task);
  CreateFailedList(task);
}

TEST(TaskFiles, SmallTaskWritesExactlyTheseBytes) {
  TempDir dir;
  const std::string& s = dir.Path();
  TDownParams p = SmallParams(s);
  const TDownTask task(&p);
  ASSERT_EQ(task.TotalCount, 4);
  WriteAllFour(task);

  EXPECT_EQ(qm::ReadWholeFile(s + "small.qmtp"), ExpectedProjectFile());
  EXPECT_EQ(qm::ReadWholeFile(s + "small_list.txt"), kExpectedTileList);
  EXPECT_EQ(qm::ReadWholeFile(s + "small_failed.ftl"), "");
  const std::string log = qm::ReadWholeFile(s + "small_log.txt");
  EXPECT_EQ(WithDateLine(log, "DATE"), ExpectedLogHeader(s, "DATE", {}));
  const std::size_t dateLine = log.find("\r\nNow time is:");
  ASSERT_NE(dateLine, std::string::npos);
  EXPECT_NE(log.substr(dateLine + 14, 1), "\r") << "the date and time are missing";
  // Nothing but the four files and the tile folder; no temporary file is left behind.
  EXPECT_EQ(FolderEntries(dir.Path()),
            (std::vector<std::string>{"small", "small.qmtp", "small_failed.ftl", "small_list.txt",
                                      "small_log.txt"}));
}

TEST(TaskFiles, TileListAcrossTheEquatorMatchesTileByTile) {
  // More than one output piece of the list writer, with negative latitudes and longitudes.
  TempDir dir;
  TDownParams p = SmallParams(dir.Path());
  p.LeftLongitude = -20;
  p.RightLongitude = 20;
  p.TopLatitude = 20;
  p.BottomLatitude = -20;
  p.Zoom = 9;
  const TDownTask task(&p);
  ASSERT_GT(task.TotalCount, 3000);
  std::string expected = std::string(kTileListHeader) + "\r\n";
  for (int32_t x = task.MinX; x <= task.MaxX; ++x) {
    for (int32_t y = task.MinY; y <= task.MaxY; ++y) {
      expected += TileFileName(task, x, y) + ": " + qm::FormatF20(TileXToLon(x, 9)) + " " +
                  qm::FormatF20(TileXToLon(x + 1, 9)) + " " + qm::FormatF20(TileYToLat(y, 9)) +
                  " " + qm::FormatF20(TileYToLat(y + 1, 9)) + "\r\n";
    }
  }
  WriteListFile(task);
  const std::string list = qm::ReadWholeFile(task.ListFile);
  ASSERT_EQ(list.size(), expected.size());
  EXPECT_TRUE(list == expected);
  // The row just south of the equator: its north edge is 0.
  EXPECT_NE(list.find("\r\nkv_227_256_9.jpg:   -20.39062500000000   -19.68750000000000"
                      "     0.00000000000000    -0.70310735243649\r\n"),
            std::string::npos);
}

TEST(TaskFiles, LogHeaderShowsTheProxyWithoutItsPassword) {
  TempDir dir;
  TDownParams p = SmallParams(dir.Path());
  p.UseProxy = true;
  p.ProxyServer = "proxy.lan";
  p.ProxyPort = "3128";
  p.ProxyUsername = "ann";
  p.ProxyPassword = "s3cret";
  const TDownTask task(&p);
  const std::string header = LogHeaderText(task, "NOW");
  EXPECT_EQ(header, ExpectedLogHeader(dir.Path(), "NOW",
                                      {"Using Proxy:", "Proxy Server:proxy.lan", "Proxy Port:3128",
                                       "ProxyUsername:ann", "ProxyPassword:********", ""}));
  EXPECT_EQ(header.find("s3cret"), std::string::npos);

  p.ProxyPassword.clear();
  EXPECT_NE(LogHeaderText(task, "NOW").find("\r\nProxyUsername:ann\r\nProxyPassword:\r\n\r\nLeft"),
            std::string::npos);
}

TEST(TaskFiles, OneTileTaskStillWritesEveryWorkerSlot) {
  TempDir dir;
  TDownParams p = SmallParams(dir.Path());
  p.LeftLongitude = p.RightLongitude = -180;
  p.TopLatitude = p.BottomLatitude = -85;
  p.ThreadCount = 1;
  const TDownTask task(&p);
  WriteProjectFile(task);
  WriteListFile(task);
  const std::string project = qm::ReadWholeFile(task.ProjectFile());
  EXPECT_NE(project.find("\r\nLeft_Longitude_download= -180.00000000000000\r\n"),
            std::string::npos);
  EXPECT_NE(project.find("\r\n[THREADS]\r\nThreadCount=1\r\nT1X=\r\n"), std::string::npos);
  EXPECT_NE(project.find("\r\nT8X=\r\nT8Y=\r\n\r\n"), std::string::npos);
  const std::string list = qm::ReadWholeFile(task.ListFile);
  const std::size_t firstLineEnd = list.find("\r\n");
  EXPECT_EQ(list.substr(firstLineEnd + 2).rfind("kv_0_", 0), 0u) << list;
  EXPECT_EQ(list.find("\r\n", firstLineEnd + 2), list.size() - 2);  // header and one tile
}

TEST(TaskFiles, ContinuingKeepsTheFilesAndAppendsToTheLog) {
  TempDir dir;
  const std::string& s = dir.Path();
  TDownParams first = SmallParams(s);
  const TDownTask firstTask(&first);
  WriteAllFour(firstTask);
  qm::AppendToFile(firstTask.LogFile, "T1 Finished.\r\n");
  qm::WriteFileAtomic(firstTask.FailedFile, "a|b\r\n");
  const std::string project = qm::ReadWholeFile(firstTask.ProjectFile());
  const std::string list = qm::ReadWholeFile(firstTask.ListFile);
  const std::string log = qm::ReadWholeFile(firstTask.LogFile);

  TDownParams again = SmallParams(s);
  again.Resume = true;
  again.ThreadCount = 1;  // would change the project file and the log header if they were rewritten
  const TDownTask continued(&again);
  WriteAllFour(continued);
  EXPECT_EQ(qm::ReadWholeFile(s + "small.qmtp"), project);
  EXPECT_EQ(qm::ReadWholeFile(s + "small_list.txt"), list);
  EXPECT_EQ(qm::ReadWholeFile(s + "small_failed.ftl"), "a|b\r\n");
  const std::string block = Lines({std::string(44, '-'), "Log continue...", "Now time is:X"});
  const std::string continuedLog = qm::ReadWholeFile(s + "small_log.txt");
  ASSERT_GT(continuedLog.size(), log.size());
  EXPECT_EQ(continuedLog.substr(0, log.size()), log);
  EXPECT_EQ(WithDateLine(continuedLog.substr(log.size()), "X"), block);

  WriteLogHeader(continued);  // a second continuation adds a second block, never the header
  const std::string twice = qm::ReadWholeFile(s + "small_log.txt");
  EXPECT_EQ(twice.find("Project: ", 1), std::string::npos);
  EXPECT_NE(twice.find("Log continue...", continuedLog.size()), std::string::npos);
}

TEST(TaskFiles, ContinuationStartsOnALineOfItsOwn) {
  EXPECT_EQ(ContinuedLogText("cut short", "NOW"),
            "cut short\r\n" + LogContinuationText("NOW"));
  EXPECT_EQ(ContinuedLogText("", "NOW"), LogContinuationText("NOW"));
}

TEST(TaskFiles, ContinuingWithoutALogIsAFileError) {
  TempDir dir;
  TDownParams p = SmallParams(dir.Path());
  p.Resume = true;
  const TDownTask task(&p);
  try {
    WriteLogHeader(task);
    FAIL() << "no error";
  } catch (const qm::FileError& e) {
    EXPECT_EQ(std::string(e.what()), qm::CannotOpenFileText(task.LogFile));
  }
}

TEST(TaskFiles, FolderThatVanishedReachesTheCallerAsTheFileLayersError) {
  TempDir dir;
  TDownParams p = SmallParams(dir.Path() + "sub/");
  std::filesystem::create_directory(dir.Path() + "sub");
  const TDownTask task(&p);
  std::filesystem::remove_all(dir.Path() + "sub");
  const auto errorOf = [](const std::function<void()>& write) -> std::string {
    try {
      write();
    } catch (const qm::FileError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(errorOf([&] { WriteProjectFile(task); }), qm::UnableToWriteText(task.ProjectFile()));
  EXPECT_EQ(errorOf([&] { WriteListFile(task); }), qm::UnableToWriteText(task.ListFile));
  EXPECT_EQ(errorOf([&] { WriteLogHeader(task); }), qm::UnableToWriteText(task.LogFile));
  EXPECT_EQ(errorOf([&] { CreateFailedList(task); }), qm::UnableToWriteText(task.FailedFile));
}

}  // namespace
