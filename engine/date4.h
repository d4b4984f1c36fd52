// Dates and times of the table engine: conversions between date texts
// "CCYYMMDD", Julian day numbers and pictured texts ("MM/DD/YY"), the current
// local date and time, millisecond times of date-time fields, and the 3-byte
// date of a data file header.
//
// Julian day 2451545 is 1 January 2000. The Gregorian calendar is used for
// every date, also before 1582. Dates run from 00010101 (day 1721426) to
// 99991231 (day 5373484); days outside that range have no date text.
//
// Writers of fixed-width texts (date4assign, date4current, time4current,
// date4parse, time4msText) write exactly their characters and no terminating
// zero byte, because they write into record buffers. date4picture writes a
// terminated text.
#pragma once

#include "engine/engine_core.h"

// First and last day numbers that have a date text.
constexpr long DATE4FIRST_DAY = 1721426;  // 00010101
constexpr long DATE4LAST_DAY = 5373484;   // 99991231

// Writes the 8-character date text of Julian day `day` into `date`. A day
// without a date text (day <= 0, or outside the range above) writes 8 blanks,
// or 8 "0" when zeroFlag is set.
void date4assign(char* date, long day, int zeroFlag = 0);

// Julian day of an 8-character date text: 0 for 8 blanks or "00000000"; -1
// when a character is neither a digit nor a blank or the date is not valid.
long date4dayNumber(const char* date);

// Julian day of year, month and day; -1 when not a valid date.
long date4julian(int year, int month, int day);

// Formats the 8-character date text by `picture` into `result`, which
// receives strlen(picture) characters and a terminating zero byte. Runs of
// C, Y, M, D (any case) stand for century, year, month and day digits; the
// first run of three or more M holds the month name, blank padded.
void date4picture(const char* date, char* result, const char* picture);

// Reads `text`, written in `picture`, back into an 8-character date text
// (8 blanks when the text holds no date part). Returns 0, or -935 (reported)
// for a null argument.
int date4parse(char* date, const char* text, const char* picture);

// Today's local date as "CCYYMMDD" (8 characters).
void date4current(char* date);

// The local time as "hh:mm:ss" (8 characters, hours 00-23).
void time4current(char* time);

// Milliseconds since midnight as "hh:mm:ss.ttt" (12 characters). Hours are
// written modulo 100 so that an out-of-range value keeps the width.
void time4msText(char* text, long ms);

// Milliseconds of a text "hh:mm:ss[.ttt]" of `len` characters: the two-digit
// groups at positions 1-2, 4-5 and 7-8 and, when the text goes on past
// position 9, the digits at 10-12. Missing groups count as 0.
long time4msValue(const char* text, int len);

// Today's local date as the 3 bytes of a data file header: year modulo 100,
// month (1-12), day (1-31).
void date4headerDate(unsigned char* yymmdd);

// Day of the week of a date text: 1 (Sunday) to 7 (Saturday); 0 for a text
// without a valid date.
int date4dow(const char* date);

// Name of month 1-12 ("January" ...) and of weekday 1-7 ("Sunday" ...);
// null outside those ranges.
const char* date4monthName(int month);
const char* date4dayName(int dow);

// True for a leap year of the Gregorian calendar.
bool date4isLeap(int year);
