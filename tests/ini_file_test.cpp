// Ini files: tolerant reading, in-place writing byte for byte, write failures, junk input.
#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "platform/errors.h"
#include "platform/file_ops.h"
#include "tests/support/temp_dir.h"

namespace {

using qm::IniFile;

TEST(IniRead, HandWrittenFileWithCommentsSpacingAndCase) {
  TempDir dir;
  const std::string path = dir.File("config.ini");
  qm::WriteFileAtomic(path,
                      "; settings\r\n"
                      "  [ IniParas ]  \r\n"
                      "DefaultPath =  /home/u/maps  \r\n"
                      ";Version=9\r\n"
                      "version=7.0\r\n"
                      "Version=8.0\n"
                      "Empty=\r\n"
                      "[Proxy]\r"
                      "USEPROXY=0x1\r\n"
                      "ProxyPort=8080");
  IniFile ini(path);
  EXPECT_EQ(ini.ReadString("iniparas", "defaultpath", "x"), "/home/u/maps");
  EXPECT_EQ(ini.ReadString("IniParas", "Version", "6.2"), "7.0");  // first duplicate wins
  EXPECT_EQ(ini.ReadString("IniParas", "Empty", "default"), "");
  EXPECT_EQ(ini.ReadString("IniParas", "Missing", "default"), "default");
  EXPECT_EQ(ini.ReadString("Nowhere", "Version", "d"), "d");
  EXPECT_EQ(ini.ReadInteger("Proxy", "UseProxy", 0), 1);
  EXPECT_EQ(ini.ReadString("Proxy", "ProxyPort", ""), "8080");
  EXPECT_EQ(IniFile(dir.File("missing.ini")).ReadString("A", "B", "dflt"), "dflt");
}

TEST(IniRead, IntegersAndLongValues) {
  TempDir dir;
  const std::string path = dir.File("p.ini");
  qm::WriteFileAtomic(path, "[Z]\r\nA=12\r\nB=yes\r\nC=\r\nD=" + std::string(3000, 'v') + "\r\n");
  IniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("Z", "A", 100), 12);
  EXPECT_EQ(ini.ReadInteger("Z", "B", 100), 100);
  EXPECT_EQ(ini.ReadInteger("Z", "C", 100), 100);
  EXPECT_EQ(ini.ReadString("Z", "D", "").size(), 2047u);
}

TEST(IniWrite, ChangesOnlyTheKeyLine) {
  TempDir dir;
  const std::string path = dir.File("config.ini");
  const std::string before =
      "[IniParas]\r\nDefaultPath=/a\r\nVersion=6.2\r\n\r\n[Proxy]\nUseProxy = 0 \nX=1\r\n";
  qm::WriteFileAtomic(path, before);
  IniFile ini(path);
  ini.WriteString("proxy", "useproxy", "1");
  EXPECT_EQ(qm::ReadWholeFile(path),
            "[IniParas]\r\nDefaultPath=/a\r\nVersion=6.2\r\n\r\n[Proxy]\nuseproxy=1\r\nX=1\r\n");
  ini.WriteString("IniParas", "DefaultPath", "");
  EXPECT_EQ(ini.ReadString("IniParas", "DefaultPath", "dflt"), "");
  EXPECT_EQ(ini.ReadString("IniParas", "Version", ""), "6.2");
}

TEST(IniWrite, AddsKeysToTheirSectionAndNewSectionsAtTheEnd) {
  TempDir dir;
  const std::string path = dir.File("new.ini");
  IniFile ini(path);
  ini.WriteString("IniParas", "DefaultPath", "/maps");
  ini.WriteString("Proxy", "UseProxy", "0");
  ini.WriteString("Proxy", "ProxyServer", "host");
  ini.WriteString("IniParas", "Version", "7.0");
  EXPECT_EQ(qm::ReadWholeFile(path),
            "[IniParas]\r\nDefaultPath=/maps\r\nVersion=7.0\r\n"
            "[Proxy]\r\nUseProxy=0\r\nProxyServer=host\r\n");

  const std::string blankAfter = dir.File("blank.ini");
  qm::WriteFileAtomic(blankAfter, "[T]\r\nT1X=\r\n\r\n[U]\r\nA=1");
  IniFile(blankAfter).WriteInteger("T", "T2X", 5);
  IniFile(blankAfter).WriteInteger("U", "B", 2);
  EXPECT_EQ(qm::ReadWholeFile(blankAfter), "[T]\r\nT1X=\r\nT2X=5\r\n\r\n[U]\r\nA=1\r\nB=2\r\n");
}

TEST(IniWrite, SeveralKeysInOneReplacement) {
  TempDir dir;
  const std::string path = dir.File("p.qmtp");
  qm::WriteFileAtomic(path, "[THREADS]\r\nThreadCount=8\r\nT1X=\r\nT1Y=\r\n\r\n");
  IniFile(path).WriteStrings("THREADS", {{"T1X", "2412"}, {"T1Y", "3080"}, {"T2X", "7"}});
  EXPECT_EQ(qm::ReadWholeFile(path), "[THREADS]\r\nThreadCount=8\r\nT1X=2412\r\nT1Y=3080\r\nT2X=7\r\n\r\n");
}

TEST(IniWrite, FailuresRaiseUnableToWrite) {
  TempDir dir;
  const std::string missingFolder = dir.File("ini/config.ini");
  try {
    IniFile(missingFolder).WriteString("IniParas", "DefaultPath", "x");
    FAIL() << "no error raised";
  } catch (const qm::FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + missingFolder);
  }
  const std::string readOnly = dir.File("ro.ini");
  qm::WriteFileAtomic(readOnly, "[A]\r\nB=1\r\n");
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
  EXPECT_THROW(IniFile(readOnly).WriteString("A", "B", "2"), qm::FileError);
  EXPECT_EQ(qm::ReadWholeFile(readOnly), "[A]\r\nB=1\r\n");
}

TEST(IniWrite, ValuesWithLineBreaksAreRefusedAndTheFileStaysAsItWas) {
  TempDir dir;
  const std::string path = dir.File("config.ini");
  qm::WriteFileAtomic(path, "[Proxy]\r\nProxyPassword=old\r\n");
  for (const char* value : {"new\r\n[IniParas]\r\nTileServer=evil", "a\nb", "a\rb"}) {
    try {
      IniFile(path).WriteStrings("Proxy", {{"ProxyUsername", "u"}, {"ProxyPassword", value}});
      FAIL() << "no error raised";
    } catch (const qm::FileError& e) {
      EXPECT_NE(std::string(e.what()).find("ProxyPassword holds a line break"), std::string::npos);
    }
  }
  EXPECT_EQ(qm::ReadWholeFile(path), "[Proxy]\r\nProxyPassword=old\r\n");
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(IniWrite, APasswordMakesTheFileOwnerOnly) {
  TempDir dir;
  const std::string created = dir.File("new.ini");
  IniFile(created).WriteSecretString("Proxy", "ProxyPassword", "secret");
  EXPECT_EQ(ModeOf(created), 0600u);

  const std::string existing = dir.File("config.ini");
  qm::WriteFileAtomic(existing, "[Proxy]\r\nProxyPassword=\r\n");
  ASSERT_EQ(::chmod(existing.c_str(), 0644), 0);
  IniFile(existing).WriteSecretString("Proxy", "ProxyPassword", "");
  EXPECT_EQ(ModeOf(existing), 0644u);
  IniFile(existing).WriteSecretString("Proxy", "ProxyPassword", "secret");
  EXPECT_EQ(ModeOf(existing), 0600u);
  IniFile(existing).WriteString("Proxy", "ProxyServer", "proxy.local");  // later writes keep it
  EXPECT_EQ(ModeOf(existing), 0600u);
  EXPECT_EQ(IniFile(existing).ReadString("Proxy", "ProxyPassword", ""), "secret");
}

TEST(IniRead, RandomBytesReadAsDefaultsWithoutCrashing) {
  TempDir dir;
  const std::string path = dir.File("junk.ini");
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    std::string junk(rng() % 600, '\0');
    for (char& c : junk) c = static_cast<char>(rng() % 256);
    if (round % 3 == 0) junk = "[A]\r\n" + junk;  // sometimes a real section before the junk
    qm::WriteFileAtomic(path, junk);
    IniFile ini(path);
    (void)ini.ReadString("A", "B", "d");
    (void)ini.ReadInteger("Proxy", "UseProxy", 0);
    ini.WriteString("A", "B", "v");
    ASSERT_EQ(ini.ReadString("A", "B", "d"), "v") << "round " << round;
  }
}

TEST(IniRead, OversizedFilesAndEndlessDevicesAreRefusedWithTheirName) {
  TempDir dir;
  const std::string padded = dir.File("padded.qmtp");
  const std::string head = "[Zoom]\r\nZoom=13\r\n";
  qm::WriteFileAtomic(padded, head + std::string(IniFile::kMaxFileBytes - head.size(), '\n'));
  EXPECT_EQ(IniFile(padded).ReadInteger("Zoom", "Zoom", 0), 13);  // just within the limit

  const std::string tooLarge = head + std::string(IniFile::kMaxFileBytes, '\n');
  qm::WriteFileAtomic(padded, tooLarge);
  try {
    (void)IniFile(padded).ReadInteger("Zoom", "Zoom", 0);
    FAIL() << "no error raised";
  } catch (const qm::FileTooLarge& e) {
    EXPECT_EQ(std::string(e.what()), "File too large: " + padded);
  }
  EXPECT_THROW(IniFile(padded).WriteString("Zoom", "Zoom", "14"), qm::FileTooLarge);
  EXPECT_EQ(qm::ReadWholeFile(padded), tooLarge);
  EXPECT_THROW((void)IniFile("/dev/zero").ReadString("A", "B", ""), qm::FileTooLarge);
  EXPECT_EQ(IniFile("/dev/null").ReadString("A", "B", "d"), "d");
}

TEST(IniRead, AByteOrderMarkIsNoPartOfTheFirstLineAndWritesKeepIt) {
  TempDir dir;
  const std::string path = dir.File("bom.qmtp");
  qm::WriteFileAtomic(path, "\xEF\xBB\xBF[AREA]\r\nLeftLongitude=116.3\r\n");
  IniFile ini(path);
  EXPECT_EQ(ini.ReadString("AREA", "LeftLongitude", ""), "116.3");
  ini.WriteString("AREA", "LeftLongitude", "116.4");
  EXPECT_EQ(qm::ReadWholeFile(path), "\xEF\xBB\xBF[AREA]\r\nLeftLongitude=116.4\r\n");
  EXPECT_EQ(ini.ReadString("AREA", "LeftLongitude", ""), "116.4");
  // A file replaced behind the object's back is read again.
  qm::WriteFileAtomic(path, "[AREA]\r\nLeftLongitude=7\r\n");
  EXPECT_EQ(ini.ReadString("area", "leftlongitude", ""), "7");
}

TEST(IniRead, OnlyTheFirstOfSectionsWithOneNameCounts) {
  TempDir dir;
  const std::string path = dir.File("twice.ini");
  qm::WriteFileAtomic(path, "[A]\r\nX=1\r\n[B]\r\nY=2\r\n[a]\r\nX=3\r\nZ=4\r\n");
  IniFile ini(path);
  EXPECT_EQ(ini.ReadString("A", "X", ""), "1");
  EXPECT_EQ(ini.ReadString("A", "Z", "none"), "none");
  ini.WriteString("A", "Z", "5");  // added to the first [A], where a read finds it
  EXPECT_EQ(ini.ReadString("A", "Z", "none"), "5");
  EXPECT_EQ(qm::ReadWholeFile(path), "[A]\r\nX=1\r\nZ=5\r\n[B]\r\nY=2\r\n[a]\r\nX=3\r\nZ=4\r\n");
}

}  // namespace
