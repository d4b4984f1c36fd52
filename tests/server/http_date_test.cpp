// If-Modified-Since dates: every accepted form, names in any case, years of
// two and four digits, and the inputs that must be refused.
#include "server/http_date.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct DateCase {
  const char* text;
  int32_t expected;
};

const DateCase kDateCases[] = {
    // The forms browsers send.
    {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
    {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
    {"Sun Nov 6 08:49:37 GMT 1994", 784111777},
    // Without weekday, without zone, time first.
    {"06 Nov 1994 08:49:37 GMT", 784111777},
    {"06 Nov 1994 08:49:37", 784111777},
    {"06-Nov-94 08:49:37 GMT", 784111777},
    {"08:49:37 GMT 06-Nov-94", 784111777},
    {"08:49:37 GMT 06 Nov 1994", 784111777},
    // Leading blanks and tabs, names in any case, long names.
    {" \t Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
    {"SUN, 06 NOV 1994 08:49:37 GMT", 784111777},
    {"sunday, 06 november 1994 08:49:37 GMT", 784111777},
    {"Sun,06 Nov 1994 08:49:37 GMT", 784111777},
    {"Sun, 06 Nov 1994 08:49:37 PST", 784111777},  // the zone is never read
    // Calendar: leap years and centuries.
    {"Fri, 01 Mar 1996 00:00:00 GMT", 825638400},
    {"Wed, 01 Mar 2000 00:00:00 GMT", 951868800},
    {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
    {"Thu, 29 Feb 2024 12:00:00 GMT", 1709208000},
    {"Mon, 01 Mar 2100 00:00:00 GMT", -1},  // beyond 32 bits
    // Two-digit years: below 70 is 20xx, otherwise 19xx.
    {"Sat, 01-Jan-05 00:00:00 GMT", 1104537600},
    {"Fri, 01-Jan-99 00:00:00 GMT", 915148800},
    {"Thu, 01-Jan-70 00:00:00 GMT", 0},
    // Fields beyond their range add their amount.
    {"Sun, 31 Nov 1994 00:00:00 GMT", 786240000},  // = 1 Dec 1994
    {"Sun, 06 Nov 1994 08:49:97 GMT", 784111837},
    // Refused.
    {"Sun Nov  6 08:49:37 1994", -1},  // asctime without GMT
    {"Xyz, 06 Nov 1994 08:49:37 GMT", -1},
    {"06 Foo 1994 08:49:37 GMT", -1},
    {"Sept, 06 Nov 1994 08:49:37 GMT", -1},
    {"Sun, 06 Sept 1994 08:49:37 GMT", -1},
    {"Sun, 06 Nov 1994 08:49 GMT", -1},
    {"", -1},
    {"GMT", -1},
    {"Sun, 06 Nov 99999999999 08:49:37 GMT", -1},  // number too large for a field
    {"Sun, 06 Nov 2100 08:49:37 GMT", -1},         // beyond 32 bits
};

TEST(ParseHttpDate, Table) {
  for (const DateCase& c : kDateCases) EXPECT_EQ(ParseHttpDate(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ParseHttpDate, NullIsNoDate) { EXPECT_EQ(ParseHttpDate(nullptr), -1); }

// Names are bounded at 400 letters: a longer name makes the form fail
// instead of reading past it.
TEST(ParseHttpDate, OverlongNamesFail) {
  std::string longDay(401, 'x');
  EXPECT_EQ(ParseHttpDate((longDay + ", 06 Nov 1994 08:49:37 GMT").c_str()), -1);
  std::string longMonth = "Sun, 06 " + std::string(500, 'n') + " 1994 08:49:37 GMT";
  EXPECT_EQ(ParseHttpDate(longMonth.c_str()), -1);
  std::string longWeekdayAsctime = std::string(1000, 's') + " Nov 6 08:49:37 GMT 1994";
  EXPECT_EQ(ParseHttpDate(longWeekdayAsctime.c_str()), -1);
}

}  // namespace
