// Tests of MIME type lookup: a small database written by the test checks
// the file format and the matching rules; one check reads the system
// database that the server uses.
#include "platform/mime.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/isolated_env.h"

namespace {

const char kDatabase[] =
    "# MIME types for the tests\n"
    "   # an indented comment line: text/bogus html\n"
    "\n"
    "text/html\t\thtml htm\n"
    "text/x-other-html html shtml\n"   // html already listed: the first type keeps it
    "image/png png\r\n"                // a CR LF line end
    "application/x-lonely\n"           // a type without extensions
    "  \t  \n"
    "image/jpeg \t jpeg\tjpg  jpe\n"
    "application/x-upper   TXZ\n"
    "text/plain txt";                  // no final newline

class MimeTest : public ::testing::Test {
 protected:
  void SetUp() override { db_ = env_.WriteFile("mime.types", kDatabase); }

  testsupport::IsolatedEnv env_;
  std::string db_;
};

TEST_F(MimeTest, FindsTypesByExtension) {
  struct Case {
    const char* extension;
    const char* type;
  };
  const std::vector<Case> cases = {
      {"html", "text/html"},           // first type wins over the later line
      {"htm", "text/html"},
      {"shtml", "text/x-other-html"},  // the later line still adds its other extensions
      {"HTML", "text/html"},           // extension case doesn't matter
      {".html", "text/html"},          // leading dot ignored
      {".HtM", "text/html"},
      {"png", "image/png"},            // CR before the line end is not part of it
      {"jpeg", "image/jpeg"},          // blanks and tabs mixed
      {"jpg", "image/jpeg"},
      {"jpe", "image/jpeg"},
      {"txz", "application/x-upper"},  // upper case in the file matches too
      {"txt", "text/plain"},           // last line without newline
  };
  for (const Case& c : cases) {
    std::string type;
    EXPECT_TRUE(plat::LookupMimeTypeIn(db_, c.extension, &type)) << c.extension;
    EXPECT_EQ(type, c.type) << c.extension;
  }
}

TEST_F(MimeTest, UnknownExtensionsFindNothing) {
  const std::vector<std::string> missing = {
      "",   ".",  "gif", "lonely", "application/x-lonely", "text/html", "#",
      "bogus", "htmlx", "ht", "..html", "html ",
  };
  for (const std::string& ext : missing) {
    std::string type = "unchanged";
    EXPECT_FALSE(plat::LookupMimeTypeIn(db_, ext, &type)) << "'" << ext << "'";
    EXPECT_EQ(type, "unchanged");
  }
}

TEST_F(MimeTest, MissingDatabaseFindsNothing) {
  std::string type;
  EXPECT_FALSE(plat::LookupMimeTypeIn(env_.path("no-such.types"), "html", &type));
  EXPECT_FALSE(plat::LookupMimeTypeIn(env_.root(), "html", &type));  // a directory
}

// Each call of LookupMimeTypeIn reads its file again.
TEST_F(MimeTest, GivenDatabaseIsReadOnEveryCall) {
  std::string type;
  ASSERT_TRUE(plat::LookupMimeTypeIn(db_, "png", &type));
  env_.WriteFile("mime.types", "image/x-new png\n");
  ASSERT_TRUE(plat::LookupMimeTypeIn(db_, "png", &type));
  EXPECT_EQ(type, "image/x-new");
}

TEST(SystemMimeTest, HtmlIsTextHtml) {
  if (access("/etc/mime.types", R_OK) != 0)
    GTEST_SKIP() << "/etc/mime.types is missing (the media-types package provides it)";
  for (const char* ext : {"html", ".HTML", "htm"}) {
    std::string type;
    EXPECT_TRUE(plat::LookupMimeType(ext, &type)) << ext;
    EXPECT_EQ(type, "text/html") << ext;
  }
  std::string type;
  EXPECT_FALSE(plat::LookupMimeType("", &type));
  EXPECT_FALSE(plat::LookupMimeType("no-such-extension-here", &type));
}

}  // namespace
