// HTTP date parsing. The accepted forms are tried in a fixed order with a
// small pattern matcher that follows the C library's scanf rules for the
// directives used here:
//   %d  skips white space, reads an optional sign and at least one digit;
//   %N[a-zA-Z] (and %[a-zA-Z]) reads 1..400 ASCII letters, no skipping;
//   a blank matches any amount of white space, none included;
//   any other character matches itself.
// Text after the last field is not examined, so a final "GMT" may be missing.
#include "server/http_date.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxName = 400;

struct NameNumber {
  const char* name;
  int number;
};

const NameNumber kMonths[] = {
    {"jan", 0},  {"january", 0},   {"feb", 1},  {"february", 1}, {"mar", 2},  {"march", 2},
    {"apr", 3},  {"april", 3},     {"may", 4},  {"jun", 5},      {"june", 5}, {"jul", 6},
    {"july", 6}, {"aug", 7},       {"august", 7}, {"sep", 8},    {"september", 8},
    {"oct", 9},  {"october", 9},   {"nov", 10}, {"november", 10}, {"dec", 11},
    {"december", 11},
};

const NameNumber kWeekdays[] = {
    {"sun", 0}, {"sunday", 0},   {"mon", 1}, {"monday", 1},   {"tue", 2}, {"tuesday", 2},
    {"wed", 3}, {"wednesday", 3}, {"thu", 4}, {"thursday", 4}, {"fri", 5}, {"friday", 5},
    {"sat", 6}, {"saturday", 6},
};

template <size_t N>
int LookUp(const NameNumber (&table)[N], const std::string& word) {
  std::string lower;
  for (char ch : word) lower += static_cast<char>(tolower(static_cast<unsigned char>(ch)));
  for (const NameNumber& e : table)
    if (lower == e.name) return e.number;
  return -1;
}

bool IsSpace(char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }
bool IsAsciiLetter(char ch) { return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'); }

// The fields read by one pattern, in the order they were read.
struct Fields {
  std::vector<long long> numbers;
  std::vector<std::string> words;
};

// Matches `pattern` at the start of `text`. In the pattern "d" stands for a
// number, "w" for a run of letters, " " for optional white space; everything
// else (":", "-", ",", the letters of "GMT") is literal.
bool Match(const char* pattern, const char* text, Fields* out) {
  // Matching ends with the last field: what follows it is never examined.
  const char* end = pattern + strlen(pattern);
  while (end > pattern && end[-1] != 'd' && end[-1] != 'w') --end;
  const char* p = text;
  for (const char* q = pattern; q < end; ++q) {
    if (*q == ' ') {
      while (IsSpace(*p)) ++p;
    } else if (*q == 'd') {
      while (IsSpace(*p)) ++p;
      bool negative = false;
      if (*p == '+' || *p == '-') negative = *p++ == '-';
      if (!isdigit(static_cast<unsigned char>(*p))) return false;
      long long value = 0;
      while (isdigit(static_cast<unsigned char>(*p))) {
        value = value * 10 + (*p++ - '0');
        if (value > INT_MAX) return false;  // beyond what a field can hold
      }
      out->numbers.push_back(negative ? -value : value);
    } else if (*q == 'w') {
      std::string word;
      while (IsAsciiLetter(*p) && word.size() < kMaxName) word += *p++;
      if (word.empty()) return false;
      out->words.push_back(word);
    } else if (*p++ != *q) {
      return false;
    }
  }
  return true;
}

// Days from 1970-01-01 to the first day of `month` (0-based, may be out of
// range) of `year`, proleptic Gregorian calendar.
long long DaysFromCivil(long long year, long long month) {
  year += month / 12;
  month %= 12;
  if (month < 0) {
    month += 12;
    year -= 1;
  }
  long long m = month + 1;  // 1..12
  long long y = m <= 2 ? year - 1 : year;
  long long era = (y >= 0 ? y : y - 399) / 400;
  long long yoe = y - era * 400;
  long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5;
  long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

long long FullYear(long long year) {
  if (year > 1900) return year;
  if (year < 70) return 2000 + year;
  return 1900 + year;
}

// One accepted form: its pattern, where its weekday is (-1: none), where its
// month name is among the words, and the positions of the six numbers.
struct Form {
  const char* pattern;
  int weekdayWord;
  int monthWord;
  int day, year, hour, minute, second;
};

const Form kForms[] = {
    {"d-w-d d:d:d GMT", -1, 0, 0, 1, 2, 3, 4},  // 06-Nov-94 08:49:37 GMT
    {"d w d d:d:d GMT", -1, 0, 0, 1, 2, 3, 4},  // 06 Nov 1994 08:49:37 GMT
    {"d:d:d GMT d-w-d", -1, 0, 3, 4, 0, 1, 2},  // 08:49:37 GMT 06-Nov-94
    {"d:d:d GMT d w d", -1, 0, 3, 4, 0, 1, 2},  // 08:49:37 GMT 06 Nov 1994
    {"w, d-w-d d:d:d GMT", 0, 1, 0, 1, 2, 3, 4},  // Sunday, 06-Nov-94 08:49:37 GMT
    {"w, d w d d:d:d GMT", 0, 1, 0, 1, 2, 3, 4},  // Sun, 06 Nov 1994 08:49:37 GMT
    {"w w d d:d:d GMT d", 0, 1, 0, 4, 1, 2, 3},   // Sun Nov 6 08:49:37 GMT 1994
};

bool MatchForm(const Form& form, const char* text, long long* seconds) {
  Fields f;
  if (!Match(form.pattern, text, &f)) return false;
  if (form.weekdayWord >= 0 && LookUp(kWeekdays, f.words[form.weekdayWord]) < 0) return false;
  int month = LookUp(kMonths, f.words[form.monthWord]);
  if (month < 0) return false;
  long long days = DaysFromCivil(FullYear(f.numbers[form.year]), month) + f.numbers[form.day] - 1;
  *seconds = days * 86400 + f.numbers[form.hour] * 3600 + f.numbers[form.minute] * 60 +
             f.numbers[form.second];
  return true;
}

}  // namespace

int32_t ParseHttpDate(const char* text) {
  if (text == nullptr) return -1;
  while (*text == ' ' || *text == '\t') ++text;
  for (const Form& form : kForms) {
    long long seconds = 0;
    if (!MatchForm(form, text, &seconds)) continue;
    if (seconds < INT32_MIN || seconds > INT32_MAX) return -1;
    return static_cast<int32_t>(seconds);
  }
  return -1;
}
