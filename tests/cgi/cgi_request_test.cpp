// Request decoding: URL decoding, the query string and URL-encoded bodies,
// cookies, lookups by name, and the errors of those paths.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/cgi/cgi_fixture.h"

namespace {

using cgitest::CgiTest;
using cgitest::Entries;
using cgitest::ErrorPage;
using cgitest::ListOf;

struct DecodeCase {
  std::string in;
  std::string out;
};

TEST(UrlDecode, Table) {
  const DecodeCase cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"a+b++c", "a b  c"},
      {"%41%42", "AB"},
      {"%4a%4A", "JJ"},  // lower and upper case hex digits alike
      {"%C7%D1%B1%DB", "\xC7\xD1\xB1\xDB"},
      {"%2B%25", "+%"},
      {"a%00b", std::string("a\0b", 3)},
      {"100%", "100%"},  // nothing after the "%": an ordinary character
      {"%4", "%4"},      // one character after it: ordinary too
      {"x%", "x%"},
      {"%zz", "S"},      // digits aren't validated: 'Z'-55 = 35, 35*16+35 = 595 -> 0x53
      {"%%41", "T1"},    // '%'-'0' = -11, -11*16+4 = -172 -> 0x54
  };
  for (const DecodeCase& c : cases) {
    std::string buf = c.in;
    size_t n = cgi::urlDecode(buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.data(), n), c.out) << c.in;
    EXPECT_EQ(buf.data()[n], '\0') << c.in;
  }
  char text[] = "a+%41%";
  EXPECT_EQ(cgi::_url_decode(text), text);
  EXPECT_STREQ(text, "a A%");
}

struct QueryCase {
  std::string query;
  Entries entries;
};

TEST_F(CgiTest, QueryStringPairs) {
  const QueryCase cases[] = {
      {"a=1&b=hello+world&c=%41", {{"a", "1"}, {"b", "hello world"}, {"c", "A"}}},
      {"x=1&x=2", {{"x", "1"}, {"x", "2"}}},
      {"a&b=", {{"a", ""}, {"b", ""}}},
      {"a=1&&b=2", {{"a", "1"}, {"", ""}, {"b", "2"}}},
      {"a=1&", {{"a", "1"}, {"", ""}}},
      {"k=v=w", {{"k", "v=w"}}},
      {"%3D=%26&n+m=%C7%D1", {{"=", "&"}, {"n m", "\xC7\xD1"}}},
      {"", {}},
  };
  for (const QueryCase& c : cases) {
    cgi::resetForTesting();
    Set("QUERY_STRING", c.query);
    EXPECT_EQ(ListOf(qFormList()), c.entries) << c.query;
  }
}

TEST_F(CgiTest, ValueLookupTakesTheFirstEntryAndMatchesCaseExactly) {
  Set("QUERY_STRING", "a=1&b=hello+world&c=%41&x=1&x=2");
  EXPECT_STREQ(qValue("a"), "1");
  EXPECT_STREQ(qValue("b"), "hello world");
  EXPECT_STREQ(qValue("c"), "A");
  EXPECT_STREQ(qValue("x"), "1");
  EXPECT_EQ(qValue("A"), nullptr);
  EXPECT_EQ(qValue("missing"), nullptr);
  EXPECT_STREQ(qValue("%c", 'b'), "hello world");  // the name is a format
}

TEST_F(CgiTest, EmptyQueryStringFallsBackToRequestUri) {
  struct Case {
    const char* query;  // null: unset
    const char* uri;    // null: unset
    Entries entries;
  };
  const Case cases[] = {
      {"", "/x.cgi?q=5&r", {{"q", "5"}, {"r", ""}}},
      {"", "/x.cgi", {}},
      {"", nullptr, {}},
      {"a=1", "/x.cgi?q=5", {{"a", "1"}}},
      {nullptr, "/x.cgi?q=5", {}},  // no query string at all: the URI isn't looked at
  };
  for (const Case& c : cases) {
    cgi::resetForTesting();
    unsetenv("QUERY_STRING");
    unsetenv("REQUEST_URI");
    if (c.query) Set("QUERY_STRING", c.query);
    if (c.uri) Set("REQUEST_URI", c.uri);
    EXPECT_EQ(ListOf(qFormList()), c.entries) << (c.uri ? c.uri : "-");
  }
}

TEST_F(CgiTest, GetQueryReturnsRawCopiesOrNothing) {
  Set("QUERY_STRING", "a=%41");
  char* q = cgi::_get_query("GET");
  ASSERT_NE(q, nullptr);
  EXPECT_STREQ(q, "a=%41");
  free(q);
  EXPECT_EQ(cgi::_get_query("POST"), nullptr);  // not a POST request
  EXPECT_EQ(cgi::_get_query("PUT"), nullptr);
  Set("REQUEST_METHOD", "post");  // the method compares exactly
  Set("CONTENT_LENGTH", "3");
  EXPECT_EQ(cgi::_get_query("POST"), nullptr);
}

TEST_F(CgiTest, PostBodyReadsExactlyContentLengthBytes) {
  Set("REQUEST_METHOD", "POST");
  Set("CONTENT_TYPE", "application/x-www-form-urlencoded");
  Set("CONTENT_LENGTH", "7");
  Body("a=1&b=2&c=3");
  EXPECT_EQ(ListOf(qFormList()), (Entries{{"a", "1"}, {"b", "2"}}));
}

TEST_F(CgiTest, PostBodyWithZeroBytesAndAShortBody) {
  Set("REQUEST_METHOD", "POST");
  Set("CONTENT_LENGTH", "100");  // more than arrives: the rest is the end of input
  Body(std::string("n=a\0b&m=%00", 11));
  EXPECT_EQ(ListOf(qFormList()), (Entries{{"n", std::string("a\0b", 3)}, {"m", std::string(1, '\0')}}));
  EXPECT_EQ(qFormList()->length, 3u);
}

TEST_F(CgiTest, QueryStringFieldsComeFirstAndWin) {
  Set("QUERY_STRING", "a=q&only=1");
  Post("application/x-www-form-urlencoded", "a=body&b=2");
  EXPECT_STREQ(qValue("a"), "q");
  EXPECT_STREQ(qValue("b"), "2");
  EXPECT_EQ(ListOf(qFormList()), (Entries{{"a", "q"}, {"only", "1"}, {"a", "body"}, {"b", "2"}}));
}

TEST_F(CgiTest, ContentTypesThatAreReadAsUrlEncoded) {
  const char* types[] = {
      "Application/X-WWW-Form-Urlencoded; charset=EUC-KR",
      "MULTIPART/FORM-DATA; boundary=zz",  // the multipart test is case-exact
      "text/plain",
  };
  for (const char* type : types) {
    cgi::resetForTesting();
    Post(type, "k=v");
    EXPECT_EQ(ListOf(qFormList()), (Entries{{"k", "v"}})) << type;
  }
}

TEST_F(CgiTest, BodyOfAGetRequestIsIgnored) {
  Set("REQUEST_METHOD", "GET");
  Set("CONTENT_LENGTH", "3");
  Body("a=1");
  EXPECT_EQ(qFormList(), nullptr);
}

TEST_F(CgiTest, FreeFormParsesAgainButTheBodyIsGone) {
  Set("QUERY_STRING", "q=1");
  Post("application/x-www-form-urlencoded", "p=2");
  EXPECT_STREQ(qValue("p"), "2");
  qFreeForm();
  EXPECT_STREQ(qValue("q"), "1");
  EXPECT_EQ(qValue("p"), nullptr);
}

TEST_F(CgiTest, ManyPairsKeepTheirOrderInBothLists) {
  std::string body, cookies;
  for (int i = 0; i < 20000; ++i) body += (i ? "&n" : "n") + std::to_string(i) + "=" + std::to_string(i * 3);
  for (int i = 0; i < 50; ++i) cookies += "c" + std::to_string(i) + "=" + std::to_string(i) + "; ";
  Set("HTTP_COOKIE", cookies);
  Post("application/x-www-form-urlencoded", body);
  EXPECT_STREQ(qcValue("c49"), "49");  // cookies first, then the form, then cookies again
  Entries form = ListOf(qFormList());
  ASSERT_EQ(form.size(), 20000u);
  for (int i = 0; i < 20000; i += 997) {
    EXPECT_EQ(form[i], (std::pair<std::string, std::string>("n" + std::to_string(i), std::to_string(i * 3))));
  }
  EXPECT_STREQ(qValue("n19999"), "59997");
  qcFreeCookies();
  Set("HTTP_COOKIE", "x=1; y=2");
  EXPECT_EQ(ListOf(qcCookieList()), (Entries{{"x", "1"}, {"y", "2"}}));
  EXPECT_EQ(ListOf(qFormList()).size(), 20000u);
}

TEST_F(CgiTest, ParseRequestRunsOnce) {
  Set("QUERY_STRING", "a=1&b=2");
  EXPECT_EQ(cgi::_parse_request(), 2);
  EXPECT_EQ(cgi::_parse_request(), 0);
  EXPECT_EQ(ListOf(qFormList()).size(), 2u);
}

struct CookieCase {
  std::string header;
  Entries entries;
};

TEST_F(CgiTest, CookiePairs) {
  const CookieCase cases[] = {
      {"lang=ko; theme=dark", {{"lang", "ko"}, {"theme", "dark"}}},
      {" \ta = b ;c", {{"a", " b "}, {"c", ""}}},  // names are trimmed, values are not
      {"x=%41+;y=1=2", {{"x", "A "}, {"y", "1=2"}}},
      {"AUTH=e%3Aadmin%3A8%3Aab%2Bc%2F%3D", {{"AUTH", "e:admin:8:ab+c/="}}},
      {"a=1;", {{"a", "1"}, {"", ""}}},
      {"%20n%20=v", {{"n", "v"}}},  // trimmed after decoding
      {"", {}},
  };
  for (const CookieCase& c : cases) {
    cgi::resetForTesting();
    Set("HTTP_COOKIE", c.header);
    EXPECT_EQ(ListOf(qcCookieList()), c.entries) << c.header;
  }
}

TEST_F(CgiTest, CookieLookup) {
  Set("HTTP_COOKIE", "lang=ko; theme=dark; lang=en");
  EXPECT_STREQ(qcValue("lang"), "ko");
  EXPECT_STREQ(qcValue("theme"), "dark");
  EXPECT_EQ(qcValue(" theme"), nullptr);
  EXPECT_EQ(qcValue("none"), nullptr);
  qcFreeCookies();
  Set("HTTP_COOKIE", "other=1");
  EXPECT_STREQ(qcValue("other"), "1");  // freed: the next lookup parses anew
  EXPECT_EQ(qcValue("lang"), nullptr);
}

TEST_F(CgiTest, NoCookieHeaderGivesNoCookies) {
  EXPECT_EQ(qcValue("AUTH"), nullptr);
  EXPECT_EQ(cgi::_parse_cookies(), 0);
}

TEST_F(CgiTest, NamesUpToTheLimit) {
  std::string longest(1023, 'n');
  Set("QUERY_STRING", longest + "=ok");
  Set("HTTP_COOKIE", longest + "=yes");
  EXPECT_STREQ(qValue("%s", longest.c_str()), "ok");
  EXPECT_STREQ(qcValue("%s", longest.c_str()), "yes");
}

TEST_F(CgiTest, NamesOverTheLimitEndWithTheErrorPage) {
  std::string tooLong(1024, 'n');
  Set("REMOTE_ADDR", "127.0.0.1");
  struct Case {
    bool cookie;
    const char* text;
  };
  for (Case c : {Case{false, "qValue(): Message is too long or invalid"},
                 Case{true, "qcValue(): Message is too long or invalid"}}) {
    std::string out = RunChild(1, [&] {
      if (c.cookie)
        qcValue("%s", tooLong.c_str());
      else
        qValue("%s", tooLong.c_str());
    });
    EXPECT_EQ(out, ErrorPage(c.text, c.text));
  }
}

TEST_F(CgiTest, PostWithoutContentLengthEndsTheProcess) {
  Set("REMOTE_ADDR", "10.0.0.1");
  Set("REQUEST_METHOD", "POST");
  Body("a=1");
  const char* text = "_get_query(): Your browser sent a non-HTTP compliant message.";
  EXPECT_EQ(RunChild(1, [] { qValue("a"); }), ErrorPage(text, text));
}

}  // namespace
