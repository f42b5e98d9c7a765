#include "isotime.h"

#include <cstdio>
#include <ctime>

namespace caplat {

namespace isotime {
namespace {

// Reads exactly width digits; false if any is missing.
bool digits(const char*& p, int width, unsigned* value) {
  unsigned v = 0;
  for (int i = 0; i < width; ++i, ++p) {
    unsigned d = static_cast<unsigned char>(*p) - '0';
    if (d > 9) return false;
    v = v * 10 + d;
  }
  *value = v;
  return true;
}

bool expect(const char*& p, char c) {
  return *p++ == c;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  if (m <= 2) --y;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  auto yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// The shape nearly every sender writes, with every field in range: sscanf
// and timegm would read it to the same value, only slower.
bool parse_canonical(uint64_t* ns, const char* p) {
  unsigned year, month, day, hour, minute, second;
  if (!digits(p, 4, &year) || !expect(p, '-') || !digits(p, 2, &month) || !expect(p, '-') ||
      !digits(p, 2, &day) || !expect(p, 'T') || !digits(p, 2, &hour) || !expect(p, ':') ||
      !digits(p, 2, &minute) || !expect(p, ':') || !digits(p, 2, &second) || !expect(p, '.'))
    return false;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
    return false;
  unsigned micros = 0;
  int n = 0;
  for (; n < 6 && static_cast<unsigned>(static_cast<unsigned char>(p[n]) - '0') <= 9; ++n)
    micros = micros * 10 + (p[n] - '0');
  if (n == 0) return false;
  int64_t seconds = days_from_civil(year, month, day) * 86400 + int64_t{hour} * 3600 +
                    int64_t{minute} * 60 + second;
  // timegm's -1 means failure, even for the second before the epoch.
  if (seconds == -1) return false;
  *ns = static_cast<uint64_t>(seconds) * 1000000000 + uint64_t{micros} * 1000;
  return true;
}

}  // namespace

bool parse(uint64_t* ns, const char* text) {
  return parse_canonical(ns, text) || parse_scanf(ns, text);
}

bool parse_scanf(uint64_t* ns, const char* text) {
  unsigned year, month, day, hour, minute, second, micros;
  if (sscanf(text, "%04u-%u-%uT%02u:%02u:%02u.%06uZ", &year, &month, &day, &hour, &minute, &second,
             &micros) < 7)
    return false;
  // Out-of-range fields are normalised by timegm, as senders have always relied on.
  struct tm tm = {};
  tm.tm_sec = static_cast<int>(second);
  tm.tm_min = static_cast<int>(minute);
  tm.tm_hour = static_cast<int>(hour);
  tm.tm_mday = static_cast<int>(day);
  tm.tm_mon = static_cast<int>(month - 1);
  tm.tm_year = static_cast<int>(year - 1900);
  time_t seconds = timegm(&tm);
  if (seconds == -1) return false;
  *ns = static_cast<uint64_t>(seconds) * 1000000000 + uint64_t{micros} * 1000;
  return true;
}

}  // namespace isotime

}  // namespace caplat
