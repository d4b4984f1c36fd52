// Tests of the date and time routines: Julian day numbers against an
// independent calendar (std::chrono), date texts, pictures in both
// directions, millisecond times and the current local date and time.
#include "engine/date4.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <string>

namespace {

std::string assigned(long day, int zeroFlag = 0) {
  char buf[9];
  memset(buf, '#', sizeof buf);
  date4assign(buf, day, zeroFlag);
  EXPECT_EQ(buf[8], '#') << "date4assign wrote past its 8 characters";
  return std::string(buf, 8);
}

std::string localToday() {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char buf[16];
  strftime(buf, sizeof buf, "%Y%m%d", &tm);
  return buf;
}

int currentCentury() {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  return (tm.tm_year + 1900) / 100;
}

struct DayCase {
  const char* text;
  long day;
};

TEST(Date4DayNumber, KnownDatesAndInvalidTexts) {
  const DayCase cases[] = {
      {"20000101", 2451545},  // the reference day
      {"20000229", 2451604},  // 2000 is a leap year (divisible by 400)
      {"19000229", -1},       // 1900 is not (divisible by 100)
      {"21000229", -1},
      {"24000229", 2597701},
      {"20240229", 2460370},
      {"20230229", -1},
      {"19700101", 2440588},
      {"20010917", 2452170},
      {"00010101", DATE4FIRST_DAY},
      {"99991231", DATE4LAST_DAY},
      {"        ", 0},          // no date
      {"00000000", 0},          // no date, written with the zero flag
      {"20001301", -1},         // month 13
      {"20000001", -1},         // month 0
      {"20000100", -1},         // day 0
      {"20000431", -1},         // April has 30 days
      {"20000132", -1},
      {"2000010a", -1},         // not a digit
      {"2000-1-1", -1},
      {"00000101", -1},         // year 0 has no date text
  };
  for (const DayCase& c : cases) EXPECT_EQ(date4dayNumber(c.text), c.day) << c.text;
}

TEST(Date4Assign, BlankZeroAndOutOfRangeDays) {
  EXPECT_EQ(assigned(2451545), "20000101");
  EXPECT_EQ(assigned(2451604), "20000229");
  EXPECT_EQ(assigned(0), "        ");
  EXPECT_EQ(assigned(0, 1), "00000000");
  EXPECT_EQ(assigned(-5), "        ");
  EXPECT_EQ(assigned(DATE4FIRST_DAY - 1), "        ");
  EXPECT_EQ(assigned(DATE4LAST_DAY + 1, 1), "00000000");
  EXPECT_EQ(assigned(DATE4FIRST_DAY), "00010101");
  EXPECT_EQ(assigned(DATE4LAST_DAY), "99991231");
}

// Every day of the calendar against std::chrono's proleptic Gregorian
// calendar, in both directions.
TEST(Date4Assign, EveryDayMatchesIndependentCalendar) {
  using namespace std::chrono;
  constexpr long kUnixEpochDay = 2440588;  // 1970-01-01
  auto num = [](const char* p, int n) {
    int v = 0;
    for (int i = 0; i < n; ++i) v = v * 10 + (p[i] - '0');
    return v;
  };
  int mismatches = 0;
  char buf[8];
  for (long day = DATE4FIRST_DAY; day <= DATE4LAST_DAY && mismatches < 5; ++day) {
    year_month_day ymd{sys_days{days{day - kUnixEpochDay}}};
    date4assign(buf, day);
    bool same = num(buf, 4) == static_cast<int>(ymd.year()) &&
                num(buf + 4, 2) == static_cast<int>(static_cast<unsigned>(ymd.month())) &&
                num(buf + 6, 2) == static_cast<int>(static_cast<unsigned>(ymd.day()));
    if (!same || date4dayNumber(buf) != day) {
      ADD_FAILURE() << "day " << day << ": got " << std::string(buf, 8) << " for "
                    << static_cast<int>(ymd.year()) << "-" << static_cast<unsigned>(ymd.month())
                    << "-" << static_cast<unsigned>(ymd.day());
      ++mismatches;
    }
  }
}

TEST(Date4Julian, RefusesImpossibleParts) {
  EXPECT_EQ(date4julian(2000, 1, 1), 2451545);
  EXPECT_EQ(date4julian(0, 1, 1), -1);
  EXPECT_EQ(date4julian(-4, 1, 1), -1);
  EXPECT_EQ(date4julian(10000, 1, 1), -1);
  EXPECT_EQ(date4julian(2000, 2, 30), -1);
  EXPECT_EQ(date4julian(1999, 2, 29), -1);
  EXPECT_TRUE(date4isLeap(2000));
  EXPECT_FALSE(date4isLeap(1900));
  EXPECT_TRUE(date4isLeap(1996));
  EXPECT_FALSE(date4isLeap(2001));
}

struct PictureCase {
  const char* date;
  const char* picture;
  const char* expect;
};

TEST(Date4Picture, FormatsByPicture) {
  const PictureCase cases[] = {
      {"20010917", "MM/DD/YY", "09/17/01"},
      {"20010917", "CCYY/MM/DD", "2001/09/17"},
      {"20010917", "mm/dd/yy", "09/17/01"},        // the picture is read in upper case
      {"        ", "MM/DD/YY", "  /  /  "},        // no date keeps the separators
      {"20010917", "YYYY", "01YY"},                // only the first run is replaced
      {"20010917", "D.M.Y", "1.0.0"},              // single letters take the first digit
      {"20010917", "DD MMM CCYY", "17 Sep 2001"},  // month name cut to its run
      {"20010517", "MMMMMMMMM DD", "May       17"},  // shorter name: blank padded
      {"20010917", "MMMMMMMMMMMM", "September   "},
      {"20011231", "CCYYMMDD", "20011231"},
      {"20011231", "x-DD", "X-31"},
      {"20010917", "", ""},
  };
  for (const PictureCase& c : cases) {
    char out[64];
    memset(out, '#', sizeof out);
    date4picture(c.date, out, c.picture);
    EXPECT_STREQ(out, c.expect) << c.date << " with " << c.picture;
  }
}

TEST(Date4Picture, InvalidMonthGivesBlankName) {
  char out[32];
  date4picture("        ", out, "DD MMM YY");
  EXPECT_STREQ(out, "         ");
  date4picture("20011317", out, "DD MMM");
  EXPECT_STREQ(out, "17    ");
}

struct ParseCase {
  const char* text;
  const char* picture;
  std::string expect;
};

TEST(Date4Parse, ReadsTextBackByPicture) {
  char century[16];
  snprintf(century, sizeof century, "%02d", currentCentury());
  const std::string cc = century;
  const ParseCase cases[] = {
      {"09/17/01", "MM/DD/YY", cc + "010917"},     // no C: the current century
      {"17 Sep 2001", "DD MMM CCYY", "20010917"},
      {"17 sep 2001", "DD MMM CCYY", "20010917"},  // name compared capitalised
      {"17 Xyz 2001", "DD MMM CCYY", "20010017"},  // unknown name: month 00
      {"2001/09/17", "CCYY/MM/DD", "20010917"},
      {"  /  /  ", "MM/DD/YY", "        "},         // no date
      {"", "MM/DD/YY", "        "},
      {"09/01", "MM/YY", cc + "010901"},            // no D: day 01
      {"2001", "CCYY", "20010101"},                 // no M, no D
      {" 9/ 7/01", "MM/DD/YY", cc + "010907"},      // blanks become "0"
      {"09/17", "MM/DD/YY", cc + "000917"},         // shorter text: missing parts "0"
  };
  for (const ParseCase& c : cases) {
    char out[9];
    out[8] = '#';
    EXPECT_EQ(date4parse(out, c.text, c.picture), 0);
    EXPECT_EQ(std::string(out, 8), c.expect) << c.text << " with " << c.picture;
    EXPECT_EQ(out[8], '#');
  }
}

TEST(Date4Parse, RoundTripsWithPicture) {
  const char* pictures[] = {"CCYY/MM/DD", "DD.MM.CCYY", "CCYYMMDD", "DD MMM CCYY"};
  const char* dates[] = {"20000229", "19991231", "00010101", "99991231", "20010917"};
  for (const char* pic : pictures)
    for (const char* date : dates) {
      char text[32], back[8];
      date4picture(date, text, pic);
      ASSERT_EQ(date4parse(back, text, pic), 0);
      EXPECT_EQ(std::string(back, 8), date) << pic << ": " << text;
    }
}

TEST(Date4Parse, NullArgumentIsReported) {
  char out[8];
  testing::internal::CaptureStderr();
  EXPECT_EQ(date4parse(out, nullptr, "MM/DD/YY"), e4parmNull);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("-935"), std::string::npos);
}

struct MsTextCase {
  long ms;
  const char* expect;
};

TEST(Time4MsText, WritesTwelveCharacters) {
  const MsTextCase cases[] = {
      {45296789, "12:34:56.789"},
      {0, "00:00:00.000"},
      {86399999, "23:59:59.999"},
      {1, "00:00:00.001"},
      {3600000, "01:00:00.000"},
      {-5, "00:00:00.000"},
  };
  for (const MsTextCase& c : cases) {
    char buf[13];
    buf[12] = '#';
    time4msText(buf, c.ms);
    EXPECT_EQ(std::string(buf, 12), c.expect) << c.ms;
    EXPECT_EQ(buf[12], '#');
  }
}

struct MsValueCase {
  const char* text;
  long expect;
};

TEST(Time4MsValue, ReadsGroupsAtFixedPositions) {
  const MsValueCase cases[] = {
      {"12:34:56", 45296000},
      {"12:34:56.789", 45296789},
      {"12:34:56.", 45296000},   // position 9 is the end: no milliseconds
      {"12:34:56.7", 45296007},  // the digits there, read as a number
      {"12-34-56", 45296000},    // any separators
      {"12:34", 45240000},       // missing groups count as 0
      {"", 0},
      {"23:59:59.999", 86399999},
  };
  for (const MsValueCase& c : cases)
    EXPECT_EQ(time4msValue(c.text, static_cast<int>(strlen(c.text))), c.expect) << c.text;
  // The length bounds the text: nothing after it is read.
  EXPECT_EQ(time4msValue("12:34:56.789", 8), 45296000);
}

TEST(Date4Current, MatchesLocalDate) {
  std::string before = localToday();
  char buf[9];
  buf[8] = '#';
  date4current(buf);
  std::string after = localToday();
  std::string got(buf, 8);
  EXPECT_TRUE(got == before || got == after) << got;
  EXPECT_GT(date4dayNumber(buf), 0);
  EXPECT_EQ(buf[8], '#');
}

TEST(Time4Current, FormatsLocalTime) {
  char buf[9];
  buf[8] = '#';
  time4current(buf);
  EXPECT_EQ(buf[8], '#');
  EXPECT_EQ(buf[2], ':');
  EXPECT_EQ(buf[5], ':');
  int hh = (buf[0] - '0') * 10 + (buf[1] - '0');
  int mm = (buf[3] - '0') * 10 + (buf[4] - '0');
  int ss = (buf[6] - '0') * 10 + (buf[7] - '0');
  EXPECT_TRUE(hh >= 0 && hh <= 23) << std::string(buf, 8);
  EXPECT_TRUE(mm >= 0 && mm <= 59) << std::string(buf, 8);
  EXPECT_TRUE(ss >= 0 && ss <= 60) << std::string(buf, 8);
  // Within a generous bound of the system clock.
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  long diff = labs((tm.tm_hour * 3600L + tm.tm_min * 60 + tm.tm_sec) - (hh * 3600L + mm * 60 + ss));
  EXPECT_TRUE(diff <= 5 || diff >= 86400 - 5) << diff;
}

TEST(Date4HeaderDate, YearModuloHundredMonthDay) {
  std::string before = localToday();
  unsigned char hdr[3];
  date4headerDate(hdr);
  std::string after = localToday();
  char text[32];
  snprintf(text, sizeof text, "%02d%02d%02d", hdr[0], hdr[1], hdr[2]);
  std::string got = text;
  EXPECT_TRUE(got == before.substr(2) || got == after.substr(2)) << got;
}

TEST(Date4Dow, WeekdaysAndNames) {
  EXPECT_EQ(date4dow("20000101"), 7);  // Saturday
  EXPECT_EQ(date4dow("20010917"), 2);  // Monday
  EXPECT_EQ(date4dow("19700101"), 5);  // Thursday
  EXPECT_EQ(date4dow("        "), 0);
  EXPECT_EQ(date4dow("20000230"), 0);
  EXPECT_STREQ(date4dayName(1), "Sunday");
  EXPECT_STREQ(date4dayName(7), "Saturday");
  EXPECT_EQ(date4dayName(0), nullptr);
  EXPECT_STREQ(date4monthName(1), "January");
  EXPECT_STREQ(date4monthName(12), "December");
  EXPECT_EQ(date4monthName(13), nullptr);
}

}  // namespace
