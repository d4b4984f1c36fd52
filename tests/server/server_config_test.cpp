// Loading and saving the server's settings through the registry file.
#include "server/server_config.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "platform/registry.h"
#include "support/isolated_env.h"

namespace {

class ServerConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gServerConfig = ServerConfig{};
    char* cwd = getcwd(nullptr, 0);
    savedCwd_ = cwd ? cwd : "/";
    free(cwd);
    std::filesystem::create_directories(env_.path("cwd"));
    ASSERT_EQ(chdir(env_.path("cwd").c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(savedCwd_.c_str()), 0); }
  void WriteRegistry(const std::string& body) {
    env_.WriteFile("home/.config/registry/HKEY_CURRENT_USER.reg",
                   "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]\r\n" + body + "\r\n");
  }
  testsupport::IsolatedEnv env_;
  std::string savedCwd_;
};

TEST_F(ServerConfigTest, DefaultsWithoutAnyKey) {
  LoadConfig();
  std::string cwd = plat::CurrentDirectory();
  EXPECT_EQ(gServerConfig.installDir, cwd);
  EXPECT_EQ(gServerConfig.rootDir, cwd);
  EXPECT_EQ(gServerConfig.defaultHtml, "index.html");
  EXPECT_EQ(gServerConfig.cgiWaitTime, 0xFFFFFFFFu);
  EXPECT_EQ(gServerConfig.port, 80);
  EXPECT_FALSE(gServerConfig.portFree);
}

TEST_F(ServerConfigTest, StoredValuesAreUsed) {
  WriteRegistry(
      "\"InstallDir\"=\"/opt/tavrel\"\r\n"
      "\"RootDir\"=\"/srv/www/./sub/../site/\"\r\n"
      "\"DefaultHTML\"=\"index.htm, default.html\"\r\n"
      "\"CgiWaitTime\"=dword:00001388\r\n"
      "\"Port\"=dword:00001f90\r\n"
      "\"PortFree\"=dword:00000000\r\n");
  LoadConfig();
  EXPECT_EQ(gServerConfig.installDir, "/opt/tavrel");
  EXPECT_EQ(gServerConfig.rootDir, "/srv/www/site");
  EXPECT_EQ(gServerConfig.defaultHtml, "index.htm, default.html");
  EXPECT_EQ(gServerConfig.cgiWaitTime, 5000u);
  EXPECT_EQ(gServerConfig.port, 8080);
  EXPECT_FALSE(gServerConfig.portFree);
}

TEST_F(ServerConfigTest, RootDefaultsToInstallDirAndRelativeRootsBecomeAbsolute) {
  WriteRegistry("\"InstallDir\"=\"/opt/tavrel\"\r\n");
  LoadConfig();
  EXPECT_EQ(gServerConfig.rootDir, "/opt/tavrel");
  WriteRegistry("\"RootDir\"=\"site\\\\www\"\r\n");  // a backslash path, relative
  LoadConfig();
  EXPECT_EQ(gServerConfig.rootDir, plat::CurrentDirectory() + "/site/www");
}

TEST_F(ServerConfigTest, PortFreeIgnoresTheStoredPort) {
  WriteRegistry("\"Port\"=dword:00001f90\r\n\"PortFree\"=dword:00000001\r\n");
  LoadConfig();
  EXPECT_TRUE(gServerConfig.portFree);
  EXPECT_EQ(gServerConfig.port, 0);
  WriteRegistry("\"PortFree\"=dword:00000007\r\n");
  LoadConfig();
  EXPECT_TRUE(gServerConfig.portFree);
}

TEST_F(ServerConfigTest, UnreadableValuesTakeTheirDefaults) {
  std::string tooLong(kPathValueBytes, 'r');  // one byte more than fits with its NUL
  WriteRegistry("\"InstallDir\"=dword:00000001\r\n"
                "\"RootDir\"=\"/" + tooLong + "\"\r\n"
                "\"DefaultHTML\"=\"" + std::string(kDefaultHtmlBytes, 'd') + "\"\r\n"
                "\"Port\"=\"8080\"\r\n"
                "\"PortFree\"=\"1\"\r\n");
  LoadConfig();
  std::string cwd = plat::CurrentDirectory();
  EXPECT_EQ(gServerConfig.installDir, cwd);
  EXPECT_EQ(gServerConfig.rootDir, cwd);
  EXPECT_EQ(gServerConfig.defaultHtml, "index.html");
  EXPECT_EQ(gServerConfig.port, 80);
  EXPECT_FALSE(gServerConfig.portFree);
}

TEST_F(ServerConfigTest, EmptyDirectoriesTakeTheirDefaults) {
  WriteRegistry("\"InstallDir\"=\"\"\r\n\"RootDir\"=\"\"\r\n");
  LoadConfig();
  EXPECT_EQ(gServerConfig.installDir, plat::CurrentDirectory());
  EXPECT_EQ(gServerConfig.rootDir, plat::CurrentDirectory());
  WriteRegistry("\"InstallDir\"=\"/opt/tavrel\"\r\n\"RootDir\"=\"\"\r\n");
  LoadConfig();
  EXPECT_EQ(gServerConfig.rootDir, "/opt/tavrel");
}

TEST_F(ServerConfigTest, LongestValueThatFitsIsRead) {
  std::string html(kDefaultHtmlBytes - 1, 'd');
  WriteRegistry("\"DefaultHTML\"=\"" + html + "\"\r\n");
  LoadConfig();
  EXPECT_EQ(gServerConfig.defaultHtml, html);
}

TEST_F(ServerConfigTest, SaveCreatesTheKeyAndWritesAllButInstallDir) {
  gServerConfig.installDir = "/opt/tavrel";
  gServerConfig.rootDir = "/srv/www";
  gServerConfig.defaultHtml = "index.html default.htm";
  gServerConfig.cgiWaitTime = 30000;
  gServerConfig.port = 8081;
  gServerConfig.portFree = false;
  EXPECT_TRUE(SaveConfig());
  std::string s;
  uint32_t n = 0;
  EXPECT_EQ(plat::RegGetString(kServerKey, "InstallDir", &s), plat::RegStatus::NoValue);
  ASSERT_EQ(plat::RegGetString(kServerKey, "RootDir", &s), plat::RegStatus::Ok);
  EXPECT_EQ(s, "/srv/www");
  ASSERT_EQ(plat::RegGetString(kServerKey, "DefaultHTML", &s), plat::RegStatus::Ok);
  EXPECT_EQ(s, "index.html default.htm");
  ASSERT_EQ(plat::RegGetDword(kServerKey, "CgiWaitTime", &n), plat::RegStatus::Ok);
  EXPECT_EQ(n, 30000u);
  ASSERT_EQ(plat::RegGetDword(kServerKey, "Port", &n), plat::RegStatus::Ok);
  EXPECT_EQ(n, 8081u);
  ASSERT_EQ(plat::RegGetDword(kServerKey, "PortFree", &n), plat::RegStatus::Ok);
  EXPECT_EQ(n, 0u);

  // Loading what was saved gives the same settings back.
  ServerConfig saved = gServerConfig;
  gServerConfig = ServerConfig{};
  LoadConfig();
  EXPECT_EQ(gServerConfig.rootDir, saved.rootDir);
  EXPECT_EQ(gServerConfig.defaultHtml, saved.defaultHtml);
  EXPECT_EQ(gServerConfig.cgiWaitTime, saved.cgiWaitTime);
  EXPECT_EQ(gServerConfig.port, saved.port);
}

TEST_F(ServerConfigTest, SaveInPortFreeModeKeepsTheStoredPort) {
  WriteRegistry("\"Port\"=dword:00000050\r\n");
  gServerConfig.rootDir = "/srv/www";
  gServerConfig.portFree = true;
  gServerConfig.port = 12345;  // the port of the current start
  EXPECT_TRUE(SaveConfig());
  uint32_t n = 0;
  ASSERT_EQ(plat::RegGetDword(kServerKey, "Port", &n), plat::RegStatus::Ok);
  EXPECT_EQ(n, 80u);
  ASSERT_EQ(plat::RegGetDword(kServerKey, "PortFree", &n), plat::RegStatus::Ok);
  EXPECT_EQ(n, 1u);
}

}  // namespace
