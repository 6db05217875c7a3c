#include "mail/Rfc822Date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  TDateTime date = 0, time = 0;
  EXPECT_TRUE(TryEncodeDate(y, mo, d, date));
  EXPECT_TRUE(TryEncodeTime(h, mi, s, 0, time));
  return ComposeDateTime(date, time);
}

// Equal to the millisecond.
void ExpectSameTime(TDateTime actual, TDateTime expected) {
  EXPECT_NEAR(actual, expected, 0.5 / 86400000.0);
}

TEST(Calendar, DaysWeekdaysAndLeapYears) {
  EXPECT_EQ(At(1899, 12, 30), 0.0);
  EXPECT_EQ(At(1970, 1, 1), 25569.0);
  EXPECT_EQ(DayOfWeek(At(2003, 2, 4)), 3);    // Tuesday
  EXPECT_EQ(DayOfWeek(At(1899, 12, 29)), 6);  // Friday, before the epoch
  TDateTime date;
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, date));
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, date));
  EXPECT_FALSE(TryEncodeDate(2003, 13, 1, date));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, date));
  // Every day of four centuries comes back as written.
  TDateTime first = At(1800, 1, 1);
  int y, mo, d, h, mi, s, ms;
  for (int i = 0; i < 146097; i += 13) {
    DecodeDateTime(ComposeDateTime(first + i, 0.75), y, mo, d, h, mi, s, ms);
    TDateTime again;
    ASSERT_TRUE(TryEncodeDate(y, mo, d, again));
    ASSERT_EQ(again, first + i);
    ASSERT_EQ(h, 18);
  }
  // Before the epoch the fraction still counts forward from midnight.
  DecodeDateTime(-1.25, y, mo, d, h, mi, s, ms);
  EXPECT_EQ(y * 10000 + mo * 100 + d, 18991229);
  EXPECT_EQ(h, 6);
  // 23:59:59.9996 rounds to the next midnight, not to a 24th hour.
  DecodeDateTime(At(2003, 2, 4) + 0.9999999999, y, mo, d, h, mi, s, ms);
  EXPECT_EQ(d * 100 + h, 500);
}

TEST(Rfc822Date, FormatsWithSignedZone) {
  TDateTime t = At(2003, 2, 4, 9, 5, 7);
  EXPECT_EQ(FormatRfc822Date(1.0 / 24, t), "Tue, 4 Feb 2003 09:05:07 +0100");
  EXPECT_EQ(FormatRfc822Date(-5.0 / 24, t), "Tue, 4 Feb 2003 09:05:07 -0500");
  EXPECT_EQ(FormatRfc822Date(0, t), "Tue, 4 Feb 2003 09:05:07 -0000");
  EXPECT_EQ(FormatRfc822Date(5.5 / 24, At(1999, 12, 31, 23, 59, 59)),
            "Fri, 31 Dec 1999 23:59:59 +0530");
}

struct TParseCase {
  const char *text;
  uint16_t result;
  TDateTime expected;  // 0: not checked
  double zone;         // the offset afterwards; starts at 0.5
};

TEST(Rfc822Date, ParsesAndReportsEveryProblem) {
  const double hour = 1.0 / 24;
  const TParseCase cases[] = {
      {"Tue, 4 Feb 2003 09:05:07 +0100", 0x8, At(2003, 2, 4, 9, 5, 7), hour},
      {"4 Feb 2003 09:05:07 GMT", 0x211, At(2003, 2, 4, 9, 5, 7), 0},
      {"Mon, 4 Feb 2003 09:05:07 -0500", 0x109, At(2003, 2, 4, 9, 5, 7), -5 * hour},
      {"Tue, 4 Feb 03 09:05:07 EST", 0x2010, At(2003, 2, 4, 9, 5, 7), -5 * hour},
      {"Thu, 4 Feb 99 09:05:07 EST", 0x2010, At(1999, 2, 4, 9, 5, 7), -5 * hour},
      {"Tue, 4 Feb 103 09:05:07 EST", 0x2010, At(2003, 2, 4, 9, 5, 7), -5 * hour},
      {"Tue, 4 Feb 2003 09:05:07 XYZ", 0x51, At(2003, 2, 4, 9, 5, 7), 0.5},
      {"Tue, 4 Feb 2003 09:05:07 z", 0x4, 0, 0},
      {"Tue, 4 Feb 2003 09:05:07 J", 0x45, 0, 0.5},
      {"Tue, 4 Feb 2003 09:05:07 N", 0x4, 0, hour},
      {"Tue, 4 Feb 2003 09:05:07 m", 0x4, 0, -12 * hour},
      {"Tue, 4 Feb 2003 09:05:07 acdt", 0x10, 0, 10.5 * hour},
      {"Tue, 4 Feb 2003 09:05:07", 0x21, At(2003, 2, 4, 9, 5, 7), 0.5},
      {"Tue, 4 Feb 2003 09:05 +0530 (IST)", 0x8, At(2003, 2, 4, 9, 5), 5.5 * hour},
      {"Tue, 4 Feb 2003 09: 05: 07 -0000", 0x8, At(2003, 2, 4, 9, 5, 7), 0},
      {"Tue, 4 Feb 2003 09:05:07 +01", 0x49, 0, 0.5},
      {"Tue, 4 Feb 2003 09:05:07 0200", 0x8, 0, 2 * hour},
      {"Tue, 4 Feb 2003 25:00:00 +0100", 0x809, At(2003, 2, 4), hour},
      {"Tue, 4 Feb 2003 noon +0100", 0x809, At(2003, 2, 4), hour},
      {"Xyz, 4 Feb 2003 09:05:07 +0100", 0x89, 0, hour},
      {"Tue 4 Feb 2003 09:05:07 +0100", 0x8, At(2003, 2, 4, 9, 5, 7), hour},
      {"   ", 0x3, 0, 0.5},
  };
  for (const TParseCase &c : cases) {
    TDateTime dt = 0;
    double zone = 0.5;
    EXPECT_EQ(ParseRfc822Date(c.text, dt, zone), c.result) << c.text;
    if (c.expected != 0) ExpectSameTime(dt, c.expected);
    EXPECT_NEAR(zone, c.zone, 1e-12) << c.text;
  }
}

TEST(Rfc822Date, InvalidDateKeepsTheDatePartItHad) {
  TDateTime dt = At(2010, 6, 1, 12);
  double zone = 0;
  EXPECT_EQ(ParseRfc822Date("Sun, 30 Feb 2003 09:00:00 +0100", dt, zone), 0x1009);
  ExpectSameTime(dt, At(2010, 6, 1, 9));
  EXPECT_EQ(ParseRfc822Date("Sun, 3 Foo 2003 09:00:00 +0100", dt, zone) & 0x1001, 0x1001);
}

TEST(Rfc822Date, WhatIsWrittenReadsBack) {
  for (double hours : {-11.0, -3.5, 0.0, 1.0, 5.75, 12.0}) {
    TDateTime t = At(2024, 2, 29, 23, 59, 58);
    TDateTime back = 0;
    double zone = 99;
    uint16_t result = ParseRfc822Date(FormatRfc822Date(hours / 24, t), back, zone);
    EXPECT_EQ(result, 0x8) << hours;
    ExpectSameTime(back, t);
    EXPECT_NEAR(zone, hours / 24, 1e-12);
  }
}

TEST(IsoDate, FullFormOnly) {
  TDateTime dt = 42;
  EXPECT_TRUE(ParseIsoDate("2003-02-04T09:05:07", dt));
  ExpectSameTime(dt, At(2003, 2, 4, 9, 5, 7));
  dt = 42;
  EXPECT_FALSE(ParseIsoDate("2003-02-04T09:05:07.000Z", dt));
  EXPECT_EQ(dt, At(2003, 2, 4));  // the date part is kept
  dt = 42;
  for (const char *bad : {"", "2003-02-30T00:00:00", "2003-2T1:2:3", "yyyy-02-04T09:05:07"}) {
    EXPECT_FALSE(ParseIsoDate(bad, dt)) << bad;
    EXPECT_EQ(dt, 42) << bad;
  }
  EXPECT_FALSE(ParseIsoDate("2003-02-04T25:00:00", dt));
}

TEST(LooseDate, ReadsWebPageDatesAndHonoursTheDesignator) {
  TDateTime dt = 0;
  EXPECT_TRUE(ParseLooseDate("Feb 4, 2003 9:05:07 PM", dt));
  ExpectSameTime(dt, At(2003, 2, 4, 21, 5, 7));
  EXPECT_TRUE(ParseLooseDate("Sent: 14 February 2003 12:30:00 AM", dt));
  ExpectSameTime(dt, At(2003, 2, 14, 0, 30, 0));
  EXPECT_TRUE(ParseLooseDate("mar 3 2011 12:00:00 pm", dt));
  ExpectSameTime(dt, At(2011, 3, 3, 12, 0, 0));
  EXPECT_TRUE(ParseLooseDate("December 31 2023 23:59:59", dt));
  ExpectSameTime(dt, At(2023, 12, 31, 23, 59, 59));
}

TEST(LooseDate, DefaultsAnswerFalseButStillGiveADate) {
  TDateTime before = Now();
  TDateTime dt = 0;
  // No time: today's clock is used with the date found.
  EXPECT_FALSE(ParseLooseDate("Feb 4, 2003", dt));
  EXPECT_EQ(std::floor(dt), At(2003, 2, 4));
  // Nothing readable: now.
  EXPECT_FALSE(ParseLooseDate("yesterday", dt));
  EXPECT_GE(dt, before - 1.0 / 86400);
  EXPECT_LE(dt, Now() + 1.0 / 86400);
  // An impossible date or time falls back to now as well.
  for (const char *bad : {"Feb 30, 2003 10:00:00", "Feb 3, 2003 13:00:00 PM"}) {
    EXPECT_FALSE(ParseLooseDate(bad, dt)) << bad;
    EXPECT_GE(dt, before - 1.0 / 86400) << bad;
  }
}

TEST(Clock, LocalZoneAndNowFollowTheZoneData) {
  const char *old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "<+03>-3", 1);
  tzset();
  EXPECT_NEAR(LocalZoneOffset(), 3.0 / 24, 1e-12);
  double skew = Now() - UnixToDateTime(std::time(nullptr));
  EXPECT_NEAR(skew, 3.0 / 24, 2.0 / 86400);
  setenv("TZ", "<-0930>9:30", 1);
  tzset();
  EXPECT_NEAR(LocalZoneOffset(), -9.5 / 24, 1e-12);
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  EXPECT_EQ(DateTimeToUnix(UnixToDateTime(1044349507)), 1044349507);
}

TEST(Clock, DeadlineCheckNoticesPassingAndClockJumps) {
  TDateTime past = Now() - MsToDays(50);
  EXPECT_TRUE(DeadlineCheck(past, 0));
  TDateTime soon = Now() + MsToDays(60000);
  TDateTime copy = soon;
  EXPECT_FALSE(DeadlineCheck(copy, 0));
  EXPECT_FALSE(DeadlineCheck(copy, 60000));
  EXPECT_EQ(copy, soon);
  // An hour ahead when at most a minute was ever set: the clock went back.
  TDateTime far = Now() + HoursToDays(1);
  EXPECT_TRUE(DeadlineCheck(far, 60000));
  EXPECT_LT(std::fabs(far - Now()), SecondsToDays(1));
  // A tolerance under a second never resets.
  TDateTime farToo = Now() + HoursToDays(1);
  EXPECT_FALSE(DeadlineCheck(farToo, 999));
  EXPECT_GT(farToo, Now() + MinutesToDays(59));
}

}  // namespace
