// Multipart bodies: fields and files (with CR LF pairs, dashes and zero
// bytes), file names sent with a directory, empty values, and every way a
// body can be malformed.
#include <string>

#include <gtest/gtest.h>

#include "tests/cgi/cgi_fixture.h"

namespace {

using cgitest::CgiTest;
using cgitest::Entries;
using cgitest::ErrorPage;
using cgitest::ListOf;

const char kBoundary[] = "----WebKitFormBoundary7MA4YWxkTrZu0gW";

std::string Type(const std::string& boundary = kBoundary) {
  return "multipart/form-data; boundary=" + boundary;
}

std::string Field(const std::string& name, const std::string& value) {
  return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
         value + "\r\n";
}

std::string File(const std::string& name, const std::string& fileName, const std::string& bytes) {
  return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
         "\"; filename=\"" + fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + bytes + "\r\n";
}

std::string End() { return std::string("--") + kBoundary + "--\r\n"; }

// A file that holds what a parser is most likely to trip on: CR LF pairs,
// lines of dashes, the boundary's text not preceded by CR LF, a boundary
// line with a wrong ending, and zero bytes.
std::string AwkwardFile() {
  std::string f = "line one\r\nline two\r\n\r\n-----\r\n--";
  f += std::string("\0\0\x01\xff", 4);
  f += std::string("--") + kBoundary + "\r\n";             // not after CR LF
  f += std::string("\r\n--") + kBoundary + "x\r\n";        // longer than the boundary
  f += std::string("\r\n--") + kBoundary + "-\r\n";        // one dash short of the end
  f += "tail-\r\n-";
  return f;
}

TEST_F(CgiTest, MultipartFieldsAndFiles) {
  std::string file = AwkwardFile();
  Post(Type(), Field("title", "hello world") + File("upload", "C:\\Users\\kim\\My Docs\\report.txt", file) +
                   Field("note", "a+b%41") + End());
  EXPECT_EQ(ListOf(qFormList()), (Entries{{"title", "hello world"},
                                          {"upload", file},
                                          {"upload.length", std::to_string(file.size())},
                                          {"upload.filename", "report.txt"},
                                          {"note", "a+b%41"}}));  // values aren't URL-decoded
  EXPECT_STREQ(qValue("upload.length"), std::to_string(file.size()).c_str());
  EXPECT_EQ(qFormList()->next->length, file.size());
}

TEST_F(CgiTest, MultipartFileNames) {
  struct Case {
    std::string sent;
    std::string stored;  // empty: no .length and .filename entries
  };
  const Case cases[] = {
      {"C:\\a\\b\\photo.jpg", "photo.jpg"},
      {"/home/kim/notes.txt", "notes.txt"},
      {"  spaced.txt \t", "spaced.txt"},
      {"dir\\  trimmed  ", "trimmed"},
      {"\xC7\xD1\xB1\xDB.txt", "\xC7\xD1\xB1\xDB.txt"},
      {"", ""},
      {"C:\\dir\\", ""},
  };
  for (const Case& c : cases) {
    cgi::resetForTesting();
    Post(Type(), File("f", c.sent, "xyz") + End());
    Entries want = {{"f", "xyz"}};
    if (!c.stored.empty()) {
      want.push_back({"f.length", "3"});
      want.push_back({"f.filename", c.stored});
    }
    EXPECT_EQ(ListOf(qFormList()), want) << c.sent;
  }
}

TEST_F(CgiTest, MultipartEmptyFileFieldGivesOneEmptyEntry) {
  Post(Type(), File("attach", "", "") + Field("after", "1") + End());
  EXPECT_EQ(ListOf(qFormList()), (Entries{{"attach", ""}, {"after", "1"}}));
}

TEST_F(CgiTest, MultipartBodyShapes) {
  const std::string b = std::string("--") + kBoundary;
  struct Case {
    const char* what;
    std::string body;
    Entries entries;
  };
  const Case cases[] = {
      {"leading CR LF", "\r\n" + Field("a", "1") + End(), {{"a", "1"}}},
      {"empty values", Field("a", "") + Field("b", "") + End(), {{"a", ""}, {"b", ""}}},
      {"value right after the head, no CR LF before the boundary",
       b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" + Field("z", "9") + End(),
       {{"a", ""}, {"z", "9"}}},
      {"end boundary right after the head",
       b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" + b + "--",
       {{"a", ""}}},
      {"value with a lone CR LF", Field("a", "\r\n") + End(), {{"a", "\r\n"}}},
      {"no parts at all", End(), {}},
      {"nothing read after the end boundary", Field("a", "1") + End() + "garbage", {{"a", "1"}}},
      {"name without closing quote",
       b + "\r\nContent-Disposition: form-data; name=\"open\r\n\r\nv\r\n" + End(), {{"open", "v"}}},
  };
  for (const Case& c : cases) {
    cgi::resetForTesting();
    Post(Type(), c.body);
    EXPECT_EQ(ListOf(qFormList()), c.entries) << c.what;
  }
}

TEST_F(CgiTest, MultipartHeadLinesLongerThanTheLimit) {
  // Head lines keep their first 1023 bytes; the rest of a longer line is
  // passed over, even when what is left of it is just its CR LF.
  const std::string b = std::string("--") + kBoundary;
  const std::string start = "Content-Disposition: form-data; name=\"f\"; filename=\"";
  std::string exact = start + std::string(1023 - start.size() - 1, 'n') + "\"";
  ASSERT_EQ(exact.size(), 1023u);
  std::string longer = start + "C:\\dir\\short.txt\"" + std::string(3000, ' ');
  std::string longHeader = "X-Padding: " + std::string(5000, 'p');
  struct Case {
    std::string disposition, extraHeader, fileName;
  };
  const Case cases[] = {
      {exact, "Content-Type: text/plain", std::string(1023 - start.size() - 1, 'n')},
      {longer, "Content-Type: text/plain", "short.txt"},
      {start + "a.txt\"", longHeader, "a.txt"},
  };
  for (const Case& c : cases) {
    cgi::resetForTesting();
    Post(Type(), b + "\r\n" + c.disposition + "\r\n" + c.extraHeader + "\r\n\r\nDATA\r\n" + End());
    EXPECT_EQ(ListOf(qFormList()), (Entries{{"f", "DATA"}, {"f.length", "4"}, {"f.filename", c.fileName}}))
        << c.disposition.size();
  }
}

TEST_F(CgiTest, MultipartValueLargerThanTheFirstBuffer) {
  std::string big;
  for (int i = 0; i < 70000; ++i) big += static_cast<char>("-\r\n\0ab"[i % 6]);
  Post(Type(), File("big", "big.bin", big) + End());
  const FormEntry* e = qFormList();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(std::string(e->value, e->length), big);
  EXPECT_STREQ(qValue("big.length"), "70000");
}

TEST_F(CgiTest, MultipartTakesTheQueryStringFirst) {
  Set("QUERY_STRING", "mode=upload&a=q");
  Post(Type(), Field("a", "body") + End());
  EXPECT_EQ(ListOf(qFormList()), (Entries{{"mode", "upload"}, {"a", "q"}, {"a", "body"}}));
  EXPECT_STREQ(qValue("a"), "q");
}

TEST_F(CgiTest, MultipartBoundaryText) {
  struct Case {
    std::string afterEquals;  // the CONTENT_TYPE text after "boundary="
    std::string boundary;     // what the body uses
  };
  const Case cases[] = {
      {std::string(249, 'b'), std::string(249, 'b')},  // the longest accepted
      {" \tabc \r\n", "abc"},                          // trimmed at both ends
      {"x-y_z'()+", "x-y_z'()+"},
  };
  for (const Case& c : cases) {
    cgi::resetForTesting();
    Post("multipart/form-data; boundary=" + c.afterEquals,
         "--" + c.boundary + "\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n--" + c.boundary +
             "--\r\n");
    EXPECT_EQ(ListOf(qFormList()), (Entries{{"k", "v"}})) << c.afterEquals;
  }
}

TEST_F(CgiTest, MultipartBodyReadStopsAtContentLength) {
  std::string body = Field("a", "1") + End();
  Set("REQUEST_METHOD", "POST");
  Set("CONTENT_TYPE", Type());
  Set("CONTENT_LENGTH", std::to_string(body.size() - 12));  // cuts into the end boundary
  Body(body);
  Set("REMOTE_ADDR", "127.0.0.1");
  EXPECT_EQ(RunChild(1, [] { qFormList(); }),
            ErrorPage("_parse_multipart_data(): Internal bug at &#39;a&#39;.",
                      "_parse_multipart_data(): Internal bug at \\'a\\'."));
}

struct MalformedCase {
  const char* what;
  std::string contentType;
  std::string body;
  std::string message;  // as the page shows it (already escaped)
};

TEST_F(CgiTest, MalformedMultipartEndsWithTheErrorPage) {
  const std::string b = std::string("--") + kBoundary;
  const std::string head = b + "\r\nContent-Disposition: form-data; name=\"f\"\r\n";
  const MalformedCase cases[] = {
      {"boundary of 250 characters", Type(std::string(250, 'x')), Field("a", "1") + End(),
       "_parse_multipart_data(): The boundary string is too long. Stopping process."},
      {"no boundary", "multipart/form-data", Field("a", "1") + End(),
       "_parse_multipart_data(): The boundary string is missing. Stopping process."},
      {"empty boundary", "multipart/form-data; boundary=  ", Field("a", "1") + End(),
       "_parse_multipart_data(): The boundary string is missing. Stopping process."},
      {"empty body", Type(), "", "_parse_multipart_data(): Your browser sent a non-HTTP compliant message."},
      {"only CR LF", Type(), "\r\n", "_parse_multipart_data(): String format invalid."},
      {"other first line", Type(), "--other\r\n" + End(), "_parse_multipart_data(): String format invalid."},
      {"short disposition line", Type(), b + "\r\nContent-Disposition: x\r\n\r\nv\r\n" + End(),
       "_parse_multipart_data(): String format invalid."},
      {"input ends before a part head", Type(), b + "\r\n", "_parse_multipart_data(): String format invalid."},
      {"head ends with the input", Type(), head + "Content-Type: text/plain\r\n",
       "_parse_multipart_data(): Internal bug at &#39;f&#39;."},
      {"value ends with the input", Type(), head + "\r\nvalue without end",
       "_parse_multipart_data(): Internal bug at &#39;f&#39;."},
      {"boundary without CR LF before the end", Type(), head + "\r\nvalue\r\n" + b,
       "_parse_multipart_data(): Internal bug at &#39;f&#39;."},
  };
  Set("REMOTE_ADDR", "127.0.0.1");
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.what);
    cgi::resetForTesting();
    Post(c.contentType, c.body);
    std::string out = RunChild(1, [] { qValue("a"); });
    // The title shows the HTML form of the message; the alert its script
    // form, where the quote is "\'" instead.
    std::string alert = c.message;
    for (size_t at; (at = alert.find("&#39;")) != std::string::npos;) alert.replace(at, 5, "\\'");
    EXPECT_EQ(out, ErrorPage(c.message, alert));
  }
}

TEST_F(CgiTest, FieldNameInTheErrorPageCannotRunScript) {
  const std::string b = std::string("--") + kBoundary;
  Set("REMOTE_ADDR", "127.0.0.1");
  Post(Type(), b + "\r\nContent-Disposition: form-data; name=\"</title><script>alert('x')</script>\\\"\r\n\r\nv");
  std::string out = RunChild(1, [] { qValue("a"); });
  // The name runs up to the first double quote: </title><script>alert('x')</script>\ .
  EXPECT_EQ(out,
            ErrorPage("_parse_multipart_data(): Internal bug at &#39;&lt;/title&gt;&lt;script&gt;alert(&#39;x&#39;)"
                      "&lt;/script&gt;\\&#39;.",
                      "_parse_multipart_data(): Internal bug at \\'\\x3C/title\\x3E\\x3Cscript\\x3Ealert(\\'x\\')"
                      "\\x3C/script\\x3E\\\\\\'."));
}

}  // namespace
