// Dates and times: Julian day numbers, date texts, pictures, the current
// local date and time. Used by the field operations (D and T fields), the
// data file header and the expression engine (DTOC, CTOD, DATE, TIME).
#include "engine/date4.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr long kLocDate4parse = 96101;

// Julian day of 31 December of year 0 is 1721425, so day-of-era n counts
// from there.
constexpr long kEraBase = 1721425;

constexpr int kDaysBefore[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

const char* const kMonthNames[12] = {"January", "February", "March",     "April",
                                     "May",     "June",     "July",      "August",
                                     "September", "October", "November", "December"};
const char* const kDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};

long daysBeforeYear(long y) {
  long p = y - 1;
  return 365 * p + p / 4 - p / 100 + p / 400;
}

int yearLength(long y) { return date4isLeap(static_cast<int>(y)) ? 366 : 365; }

int monthLength(int y, int m) {
  int len = kDaysBefore[m] - kDaysBefore[m - 1];
  if (m == 2 && date4isLeap(y)) ++len;
  return len;
}

// Value of `n` characters that must be digits or blanks (blanks count as
// nothing; "  7" is 7). False when another character appears.
bool digitsValue(const char* p, int n, int* value) {
  int v = 0;
  for (int i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c >= '0' && c <= '9')
      v = v * 10 + (c - '0');
    else if (c != ' ')
      return false;
  }
  *value = v;
  return true;
}

void putDigits(char* out, long value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

bool localNow(struct tm* out, long* msOfSecond) {
  struct timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return false;
  time_t secs = ts.tv_sec;
  if (!localtime_r(&secs, out)) return false;
  if (msOfSecond) *msOfSecond = ts.tv_nsec / 1000000;
  return true;
}

// The month name in a picture run: the name cut to the run and blank padded
// (a name shorter than the run does not end the text).
void putMonthName(char* run, int runLen, const char* date) {
  int month = 0;
  const char* name = nullptr;
  if (digitsValue(date + 4, 2, &month)) name = date4monthName(month);
  int nameLen = name ? static_cast<int>(strlen(name)) : 0;
  for (int i = 0; i < runLen; ++i) run[i] = i < nameLen ? name[i] : ' ';
}

// Month number of a name at the start of `text` (up to three characters,
// trimmed, compared with the start of each month name); 0 when none.
int monthFromName(const char* text, int avail) {
  char word[4] = {};
  int n = 0;
  for (int i = 0; i < 3 && i < avail; ++i) word[n++] = text[i];
  int start = 0;
  while (start < n && word[start] == ' ') ++start;
  while (n > start && word[n - 1] == ' ') --n;
  int len = n - start;
  if (len <= 0) return 0;
  char probe[4] = {};
  for (int i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(word[start + i]);
    probe[i] = static_cast<char>(i == 0 ? toupper(c) : tolower(c));
  }
  for (int m = 0; m < 12; ++m)
    if (strncmp(kMonthNames[m], probe, static_cast<size_t>(len)) == 0) return m + 1;
  return 0;
}

}  // namespace

bool date4isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

long date4julian(int year, int month, int day) {
  // Years before 1 have no date text in this engine, so they are refused.
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return -1;
  if (day > monthLength(year, month)) return -1;
  long dayOfYear = kDaysBefore[month - 1] + day;
  if (month > 2 && date4isLeap(year)) ++dayOfYear;
  return daysBeforeYear(year) + dayOfYear + kEraBase;
}

long date4dayNumber(const char* date) {
  if (!date) return -1;
  int year = 0, month = 0, day = 0;
  if (!digitsValue(date, 4, &year) || !digitsValue(date + 4, 2, &month) ||
      !digitsValue(date + 6, 2, &day))
    return -1;
  if (year == 0 && month == 0 && day == 0) return 0;  // blanks or zeros: no date
  return date4julian(year, month, day);
}

void date4assign(char* date, long day, int zeroFlag) {
  if (!date) return;
  if (day < DATE4FIRST_DAY || day > DATE4LAST_DAY) {
    memset(date, zeroFlag ? '0' : ' ', 8);
    return;
  }
  long n = day - kEraBase;
  long y = static_cast<long>(n * 0.002737907006988508) + 1;
  // The estimate is off by at most one year; the loops settle it.
  while (n - daysBeforeYear(y) <= 0) --y;
  long r = n - daysBeforeYear(y);
  while (r > yearLength(y)) {
    r -= yearLength(y);
    ++y;
  }
  bool leap = date4isLeap(static_cast<int>(y));
  int month = 1;
  while (month < 12) {
    long before = kDaysBefore[month] + (leap && month >= 2 ? 1 : 0);
    if (r <= before) break;
    ++month;
  }
  long before = kDaysBefore[month - 1] + (leap && month > 2 ? 1 : 0);
  putDigits(date, y, 4);
  putDigits(date + 4, month, 2);
  putDigits(date + 6, r - before, 2);
}

void date4picture(const char* date, char* result, const char* picture) {
  if (!result) return;
  if (!picture || !date) {
    result[0] = 0;
    return;
  }
  size_t len = strlen(picture);
  for (size_t i = 0; i < len; ++i)
    result[i] = static_cast<char>(toupper(static_cast<unsigned char>(picture[i])));
  result[len] = 0;
  // Letters are looked up in the picture itself, since result is being written.
  static constexpr char kLetters[4] = {'C', 'Y', 'M', 'D'};
  for (int k = 0; k < 4; ++k) {
    size_t pos = len;
    for (size_t i = 0; i < len; ++i)
      if (toupper(static_cast<unsigned char>(picture[i])) == kLetters[k]) {
        pos = i;
        break;
      }
    if (pos == len) continue;
    result[pos] = date[k * 2];
    if (pos + 1 < len && toupper(static_cast<unsigned char>(picture[pos + 1])) == kLetters[k])
      result[pos + 1] = date[k * 2 + 1];
  }
  size_t m = 0;
  while (m < len && toupper(static_cast<unsigned char>(picture[m])) != 'M') ++m;
  size_t runEnd = m;
  while (runEnd < len && toupper(static_cast<unsigned char>(picture[runEnd])) == 'M') ++runEnd;
  if (runEnd - m > 2) putMonthName(result + m, static_cast<int>(runEnd - m), date);
}

int date4parse(char* date, const char* text, const char* picture) {
  if (!date || !text || !picture)
    return error4reportAt(nullptr, e4parmNull, kLocDate4parse, "date4parse");
  char out[8];
  memset(out, ' ', 8);
  int used[4] = {0, 0, 0, 0};  // characters taken for C, Y, M, D
  bool present[4] = {false, false, false, false};
  size_t textLen = strlen(text);
  size_t picLen = strlen(picture);
  for (size_t i = 0; i < picLen; ++i) {
    int k;
    switch (toupper(static_cast<unsigned char>(picture[i]))) {
      case 'C': k = 0; break;
      case 'Y': k = 1; break;
      case 'M': k = 2; break;
      case 'D': k = 3; break;
      default: continue;
    }
    present[k] = true;
    // A text shorter than the picture leaves the missing positions blank.
    if (used[k] < 2 && i < textLen) out[k * 2 + used[k]] = text[i];
    if (used[k] < 2) ++used[k];
  }
  bool empty = true;
  for (char c : out)
    if (c != ' ') empty = false;
  if (empty) {
    memcpy(date, out, 8);
    return 0;
  }
  if (!present[0]) {
    struct tm now;
    int century = localNow(&now, nullptr) ? (now.tm_year + 1900) / 100 : 20;
    putDigits(out, century, 2);
  }
  if (!present[1]) memcpy(out + 2, "01", 2);
  if (!present[2]) memcpy(out + 4, "01", 2);
  if (!present[3]) memcpy(out + 6, "01", 2);

  size_t m = 0;
  while (m < picLen && toupper(static_cast<unsigned char>(picture[m])) != 'M') ++m;
  size_t runEnd = m;
  while (runEnd < picLen && toupper(static_cast<unsigned char>(picture[runEnd])) == 'M') ++runEnd;
  if (runEnd - m > 2) {
    int avail = m < textLen ? static_cast<int>(textLen - m) : 0;
    int month = monthFromName(text + (m < textLen ? m : textLen), avail);
    // An unknown name leaves month 00, which no date accepts.
    putDigits(out + 4, month, 2);
  }
  for (char& c : out)
    if (c == ' ') c = '0';
  memcpy(date, out, 8);
  return 0;
}

void date4current(char* date) {
  if (!date) return;
  struct tm now;
  if (!localNow(&now, nullptr)) {
    memset(date, ' ', 8);
    return;
  }
  putDigits(date, now.tm_year + 1900, 4);
  putDigits(date + 4, now.tm_mon + 1, 2);
  putDigits(date + 6, now.tm_mday, 2);
}

void time4current(char* time) {
  if (!time) return;
  struct tm now;
  if (!localNow(&now, nullptr)) {
    memcpy(time, "00:00:00", 8);
    return;
  }
  putDigits(time, now.tm_hour, 2);
  time[2] = ':';
  putDigits(time + 3, now.tm_min, 2);
  time[5] = ':';
  putDigits(time + 6, now.tm_sec, 2);
}

void time4msText(char* text, long ms) {
  if (!text) return;
  unsigned long v = static_cast<unsigned long>(ms < 0 ? 0 : ms);
  putDigits(text, static_cast<long>((v / 3600000) % 100), 2);
  text[2] = ':';
  putDigits(text + 3, static_cast<long>((v / 60000) % 60), 2);
  text[5] = ':';
  putDigits(text + 6, static_cast<long>((v / 1000) % 60), 2);
  text[8] = '.';
  putDigits(text + 9, static_cast<long>(v % 1000), 3);
}

namespace {

// Decimal value of the characters [from, from + n) of a text of `len`
// characters, read as the C library reads an integer (leading blanks, then
// digits); characters beyond the text count as missing.
long timeGroup(const char* text, int len, int from, int n) {
  if (from >= len) return 0;
  if (from + n > len) n = len - from;
  char buf[8] = {};
  memcpy(buf, text + from, static_cast<size_t>(n));
  long v = 0;
  int i = 0;
  while (i < n && buf[i] == ' ') ++i;
  for (; i < n && buf[i] >= '0' && buf[i] <= '9'; ++i) v = v * 10 + (buf[i] - '0');
  return v;
}

}  // namespace

long time4msValue(const char* text, int len) {
  if (!text || len <= 0) return 0;
  long ms = timeGroup(text, len, 0, 2) * 3600000 +
            timeGroup(text, len, 3, 2) * 60000 + timeGroup(text, len, 6, 2) * 1000;
  if (len > 9) ms += timeGroup(text, len, 9, 3);
  return ms;
}

void date4headerDate(unsigned char* yymmdd) {
  if (!yymmdd) return;
  struct tm now;
  if (!localNow(&now, nullptr)) {
    yymmdd[0] = 0;
    yymmdd[1] = 1;
    yymmdd[2] = 1;
    return;
  }
  yymmdd[0] = static_cast<unsigned char>((now.tm_year + 1900) % 100);
  yymmdd[1] = static_cast<unsigned char>(now.tm_mon + 1);
  yymmdd[2] = static_cast<unsigned char>(now.tm_mday);
}

int date4dow(const char* date) {
  long day = date4dayNumber(date);
  if (day <= 0) return 0;
  // Day 2451545 (1 January 2000) was a Saturday.
  return static_cast<int>((day + 1) % 7) + 1;
}

const char* date4monthName(int month) {
  return month >= 1 && month <= 12 ? kMonthNames[month - 1] : nullptr;
}

const char* date4dayName(int dow) { return dow >= 1 && dow <= 7 ? kDayNames[dow - 1] : nullptr; }
