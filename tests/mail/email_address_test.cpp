#include <gtest/gtest.h>

#include "mail/EmailAddress.h"

namespace {

TEmailAddress Parse(const char *text) {
  TEmailAddress a;
  a.SetText(text);
  return a;
}

}  // namespace

TEST(EmailAddress, NameAndAddressFromTheCommonForms) {
  TEmailAddress quoted = Parse("  \"Jane Roe\" <jane.roe@example.com>  ");
  EXPECT_EQ(quoted.Name(), "Jane Roe");
  EXPECT_EQ(quoted.NameKind(), nk_Quoted);
  EXPECT_EQ(quoted.Address(), "jane.roe@example.com");
  EXPECT_EQ(quoted.AddressFlags(), af_AngleBrackets);
  EXPECT_EQ(quoted.Text(), "  \"Jane Roe\" <jane.roe@example.com>  ");

  TEmailAddress comment = Parse("joe@example.com (Joe Bloggs)");
  EXPECT_EQ(comment.Address(), "joe@example.com");
  EXPECT_EQ(comment.Name(), "Joe Bloggs");
  EXPECT_EQ(comment.NameKind(), nk_Comment);
  EXPECT_EQ(comment.AddressFlags(), af_Bare);

  TEmailAddress plain = Parse("Joe Bloggs <joe@example.com>");
  EXPECT_EQ(plain.Name(), "Joe Bloggs");
  EXPECT_EQ(plain.NameKind(), nk_Plain);

  TEmailAddress bare = Parse("joe@example.com");
  EXPECT_EQ(bare.Name(), "");
  EXPECT_EQ(bare.NameKind(), nk_None);
  EXPECT_EQ(bare.AddressFlags(), af_Bare);
}

TEST(EmailAddress, CommentWrittenDirectlyAfterABareAddressStaysAComment) {
  TEmailAddress a = Parse("joe@example.com(Joe)");
  EXPECT_EQ(a.Address(), "joe@example.com");
  EXPECT_TRUE(a.IsValid());
  EXPECT_EQ(a.Name(), "Joe");
  EXPECT_EQ(a.NameKind(), nk_Comment);
}

TEST(EmailAddress, DefectsBecomeFlags) {
  // Too short and a one-letter top-level label.
  EXPECT_EQ(Parse("<a@b.c>").AddressFlags(), af_Invalid | af_AngleBrackets);
  EXPECT_EQ(Parse("x@example.c0m").AddressFlags() & af_Invalid, af_Invalid);
  EXPECT_EQ(Parse("x@exa..mple.com").AddressFlags() & af_Invalid, af_Invalid);
  EXPECT_EQ(Parse("@example.com").AddressFlags() & af_Invalid, af_Invalid);
  EXPECT_EQ(ValidateAddress("jo;e@example.com"), af_Invalid);
  EXPECT_EQ(Parse("jo;e@example.com").Address(), "e@example.com");
  // No closing bracket: the address still runs to the end of the text.
  TEmailAddress open = Parse("Joe <joe@example.com");
  EXPECT_EQ(open.Address(), "joe@example.com");
  EXPECT_EQ(open.AddressFlags(), af_Invalid);
  EXPECT_EQ(open.Name(), "Joe");
  // No "@": the whole text is a display name.
  TEmailAddress name = Parse("Just A Name");
  EXPECT_EQ(name.AddressFlags(), af_Invalid);
  EXPECT_EQ(name.Name(), "Just A Name");
  EXPECT_EQ(name.Address(), "");
}

TEST(EmailAddress, SourceRoutesAndThePlaceholder) {
  EXPECT_EQ(Parse("<@relay.example.net,@hub.example.org:joe@example.com>").AddressFlags(),
            af_AngleBrackets | af_SourceRoute);
  EXPECT_EQ(ValidateAddress("@relay.example.net,hub.example.org:joe@example.com"),
            af_SourceRoute | af_Invalid);
  EXPECT_EQ(ValidateAddress("@relay.example.net joe@example.com"), af_Invalid | af_SourceRoute);
  // A tab may follow a comma of the route (the obsolete route syntax allows
  // folding white space there); a blank anywhere is refused on its own.
  EXPECT_EQ(ValidateAddress("@relay.example.net,\t@hub.example.org:joe@example.com"),
            af_SourceRoute);
  EXPECT_EQ(ValidateAddress("joe@example.com"), 0);
  EXPECT_EQ(Parse("<Undisclosed.Recipients>").AddressFlags(),
            af_Undisclosed | af_Invalid | af_AngleBrackets);
}

TEST(EmailAddressCollection, SplitsAtEveryComma) {
  TEmailAddressCollection two;
  EXPECT_TRUE(two.SetText("a.person@example.com, \"B\" <b.person@example.org>"));
  ASSERT_EQ(two.Count(), 2);
  EXPECT_EQ(two.Items(1)->Address(), "b.person@example.org");
  EXPECT_EQ(two.Items(2), nullptr);

  TEmailAddressCollection cut;
  EXPECT_FALSE(cut.SetText("Doe, John <john.doe@example.com>"));
  ASSERT_EQ(cut.Count(), 2);
  EXPECT_EQ(cut.Items(0)->AddressFlags(), af_Invalid);
  EXPECT_EQ(cut.Items(0)->Name(), "Doe");
  EXPECT_EQ(cut.Items(0)->NameKind(), nk_Plain);
  EXPECT_TRUE(cut.Items(1)->IsValid());

  // Items are appended; empty pieces between commas are items too.
  EXPECT_FALSE(cut.SetText("x@example.com,,"));
  EXPECT_EQ(cut.Count(), 4);
}
