#include "scraping/MessageAddress.h"

#include <gtest/gtest.h>

TEST(MessageAddress, ReadsIdSizeAndReadMark) {
  const std::string read =
      "http://site/cgi-bin/getmsg?curmbox=F1&a=tok&msg=MSG1042.7&start=3&len=2048&msgread=1";
  EXPECT_EQ(MessageIdOf(read), "MSG1042.7");
  EXPECT_EQ(MessageSizeOf(read), 2048);
  EXPECT_TRUE(IsReadAddress(read));

  const std::string unread = "http://site/cgi-bin/getmsg?MSG=abc'rest&LEN=12";
  EXPECT_EQ(MessageIdOf(unread), "abc");  // the quote ends the id
  EXPECT_EQ(MessageSizeOf(unread), 12);
  EXPECT_FALSE(IsReadAddress(unread));
}

TEST(MessageAddress, MissingOrBrokenValuesGiveEmptyAndZero) {
  EXPECT_EQ(MessageIdOf("http://site/cgi-bin/getmsg?len=5"), "");
  EXPECT_EQ(MessageIdOf("http://site/cgi-bin/getmsg?msg=&len=5"), "");
  // "msgread=1" is not a message id.
  EXPECT_EQ(MessageIdOf("http://site/cgi-bin/getmsg?msgread=1"), "");
  EXPECT_EQ(MessageSizeOf("http://site/cgi-bin/getmsg?msg=a"), 0);
  EXPECT_EQ(MessageSizeOf("http://site/cgi-bin/getmsg?msg=a&len=12kb"), 0);
  EXPECT_EQ(MessageSizeOf(""), 0);
  // The read mark is case-sensitive, as the site writes it.
  EXPECT_FALSE(IsReadAddress("http://site/getmsg?MSGREAD=1"));
}
