#include "app/contacts/vcard.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/error_pool.h"

namespace vexo {
namespace {

const std::filesystem::path kData = std::filesystem::path(VEXO_SOURCE_DIR) / "tests/data/contacts";

ContactBook LoadBook(const std::string& name) {
  ContactBook book;
  EXPECT_TRUE(book.Load(kData / name));
  return book;
}

const Contact* Find(const ContactBook& book, const std::string& fileAs) {
  for (const Contact& c : book.Contacts())
    if (c.fileAs == fileAs) return &c;
  return nullptr;
}

std::string TakeMessages() {
  std::string all;
  ErrorRecord r;
  while (ErrorPool::Instance().TakeOldest(r) > 0) all += r.message + "\n";
  return all;
}

TEST(VCardTest, Outlook21QuotedPrintableCharsetAndBareTypes) {
  ErrorPool::Instance().Clear();
  ContactBook book = LoadBook("outlook21.vcf");
  EXPECT_FALSE(book.Damaged());
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
  ASSERT_EQ(book.Count(), 2u);
  // Sorted by file-as name: Baker before Müller.
  EXPECT_EQ(book.Item(0).fileAs, "Baker, Anne");
  const Contact& m = book.Item(1);
  EXPECT_EQ(m.fileAs, "M\xC3\xBCller, J\xC3\xBCrgen");
  EXPECT_EQ(m.name, "J\xC3\xBCrgen M\xC3\xBCller");
  EXPECT_EQ(m.second, "Stahlbau Nord");
  EXPECT_EQ(m.Number(NumberKind::BusinessTel1), "+49 40 1234-0");
  EXPECT_EQ(m.Number(NumberKind::BusinessTel2), "+49 40 1234-11");
  EXPECT_EQ(m.Number(NumberKind::BusinessFax), "+49 40 1234-99");
  EXPECT_EQ(m.Number(NumberKind::HomeTel1), "040 555 12");
  EXPECT_EQ(m.Number(NumberKind::Mobile), "0171 2345678");
  EXPECT_EQ(m.Number(NumberKind::CarTel), "0172 999");
  // The pager has no kind; the soft-broken QP address did not leak into a number.
  EXPECT_EQ(m.Number(NumberKind::HomeTel2), "");
  const Contact& b = book.Item(0);
  EXPECT_EQ(b.Number(NumberKind::HomeFax), "555 0101");
  EXPECT_EQ(b.Number(NumberKind::AssistantTel), "555 0199");
  EXPECT_EQ(b.name, "Anne Baker");
}

TEST(VCardTest, Apple30GroupsEscapesLabelsAndOrganisationOnlyCards) {
  ContactBook book = LoadBook("apple30.vcf");
  EXPECT_FALSE(book.Damaged());
  ASSERT_EQ(book.Count(), 2u);
  const Contact* company = Find(book, "Acme Fax Service");
  ASSERT_NE(company, nullptr);
  EXPECT_EQ(company->Number(NumberKind::BusinessFax), "555 0300");
  EXPECT_EQ(company->second, "");
  const Contact* sean = Find(book, "O;Neill, Se\xC3\xA1n");
  ASSERT_NE(sean, nullptr);
  EXPECT_EQ(sean->id, "5A1B-APPLE-0001");
  EXPECT_EQ(sean->second, "Harbour Works, Ltd.");
  EXPECT_EQ(sean->Number(NumberKind::BusinessTel1), "(555) 010-2000");
  EXPECT_EQ(sean->Number(NumberKind::BusinessFax), "(555) 010-2001");
  EXPECT_EQ(sean->Number(NumberKind::HomeFax), "(555) 010-3000");
  EXPECT_EQ(sean->Number(NumberKind::AssistantTel), "(555) 010-4000");
  EXPECT_EQ(sean->Number(NumberKind::Mobile), "(555) 777-0000");
  EXPECT_EQ(book.Item(0).fileAs, "Acme Fax Service");
}

TEST(VCardTest, Version40UriNumbersQuotedTypeListsAndCardsWithoutNumbers) {
  ContactBook book = LoadBook("vcard40.vcf");
  ASSERT_EQ(book.Count(), 2u);
  const Contact& zoe = book.Item(0);
  EXPECT_EQ(zoe.fileAs, "Adams, Zo\xC3\xAB");
  EXPECT_EQ(zoe.Number(NumberKind::BusinessTel1), "+1-555-555-0100");
  EXPECT_EQ(zoe.Number(NumberKind::HomeFax), "+1-555-555-0150");
  EXPECT_EQ(zoe.Number(NumberKind::Mobile), "+1-555-555-0177");  // folded value
  EXPECT_EQ(zoe.second, "zoe@example.org");                      // no organisation: the e-mail
  const Contact& quiet = book.Item(1);
  EXPECT_EQ(quiet.fileAs, "Numbers, No");
  EXPECT_EQ(quiet.second, "Quiet Corp");
  EXPECT_FALSE(quiet.HasNumbers());
}

TEST(VCardTest, BrokenFileKeepsWhatCouldBeReadAndReportsIt) {
  ErrorPool::Instance().Clear();
  ContactBook book = LoadBook("broken.vcf");
  EXPECT_TRUE(book.Damaged());
  ASSERT_EQ(book.Count(), 3u);
  EXPECT_EQ(book.Item(0).Number(NumberKind::BusinessTel1), "111");
  EXPECT_EQ(book.Item(1).fileAs, "Second, Half");
  EXPECT_EQ(book.Item(1).Number(NumberKind::BusinessFax), "222");
  EXPECT_EQ(book.Item(2).fileAs, "Truncated, Last");
  const std::string messages = TakeMessages();
  EXPECT_NE(messages.find("damaged at line 6"), std::string::npos) << messages;
}

TEST(VCardTest, EmptyAndMissingBooksAreEmptyWithoutReports) {
  ErrorPool::Instance().Clear();
  EXPECT_EQ(LoadBook("empty.vcf").Count(), 0u);
  EXPECT_EQ(LoadBook("no-such-book.vcf").Count(), 0u);
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
}

TEST(VCardTest, UnreadableFileFailsWithReport) {
  ErrorPool::Instance().Clear();
  ContactBook book;
  EXPECT_FALSE(book.Load(kData));  // a folder exists but is no file
  EXPECT_NE(TakeMessages().find("address book"), std::string::npos);
}

TEST(VCardTest, Utf16FileWithByteOrderMark) {
  const std::string text = "BEGIN:VCARD\r\nN:Wide;W\xC3\xA9\r\nTEL;TYPE=FAX:42\r\nEND:VCARD\r\n";
  std::string wide = "\xFF\xFE";
  // The test text's only non-ASCII letter is é (U+00E9).
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\xC3') {
      wide += '\xE9';
      ++i;
    } else {
      wide += text[i];
    }
    wide += '\0';
  }
  VCardReadResult r = ParseVCards(wide);
  ASSERT_EQ(r.contacts.size(), 1u);
  EXPECT_EQ(r.contacts[0].fileAs, "Wide, W\xC3\xA9");
  EXPECT_EQ(r.contacts[0].Number(NumberKind::BusinessFax), "42");
}

TEST(VCardTest, InvalidBytesBecomeReplacementCharacters) {
  VCardReadResult r = ParseVCards("BEGIN:VCARD\nFN:Bad\xFF\xC3(\nEND:VCARD\n");
  ASSERT_EQ(r.contacts.size(), 1u);
  EXPECT_EQ(r.contacts[0].fileAs, "Bad\xEF\xBF\xBD\xEF\xBF\xBD(");
}

TEST(VCardTest, AgentCardInside21CardIsSkipped) {
  VCardReadResult r = ParseVCards(
      "BEGIN:VCARD\nN:Boss;Big\nAGENT:\nBEGIN:VCARD\nN:Helper;Tiny\nTEL:9\nEND:VCARD\n"
      "TEL;WORK:1\nEND:VCARD\n");
  EXPECT_FALSE(r.damaged);
  ASSERT_EQ(r.contacts.size(), 1u);
  EXPECT_EQ(r.contacts[0].fileAs, "Boss, Big");
  EXPECT_EQ(r.contacts[0].Number(NumberKind::BusinessTel1), "1");
}

TEST(VCardTest, AppleLabelsGiveTheKindOfTheirGroupsNumber) {
  VCardReadResult r = ParseVCards(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lab;El\r\n"
      "item1.TEL:111\r\nitem2.TEL:222\r\nitem3.TEL;type=pref:333\r\n"
      "item1.X-ABLabel:_$!<HomeFAX>!$_\r\nitem2.X-ABLabel:_$!<Mobile>!$_\r\n"
      "item3.X-ABLabel:Pager\r\nitem4.X-ABLabel:work fax\r\nEND:VCARD\r\n");
  ASSERT_EQ(r.contacts.size(), 1u);
  const Contact& c = r.contacts[0];
  EXPECT_EQ(c.Number(NumberKind::HomeFax), "111");
  EXPECT_EQ(c.Number(NumberKind::Mobile), "222");
  EXPECT_EQ(c.Number(NumberKind::BusinessFax), "");   // a label without a number
  EXPECT_EQ(c.Number(NumberKind::BusinessTel1), "");  // the pager has no kind
}

TEST(VCardTest, NumberKindsFillInLabelOrderAndOverflowIsDropped) {
  std::array<std::string, kNumberKinds> taken;
  NumberKind kind;
  ASSERT_TRUE(NumberKindForTypes({}, taken, kind));
  EXPECT_EQ(kind, NumberKind::BusinessTel1);
  taken[0] = taken[1] = "x";
  ASSERT_TRUE(NumberKindForTypes({"voice"}, taken, kind));
  EXPECT_EQ(kind, NumberKind::HomeTel1);
  EXPECT_FALSE(NumberKindForTypes({"work"}, taken, kind));
  ASSERT_TRUE(NumberKindForTypes({"fax"}, taken, kind));
  EXPECT_EQ(kind, NumberKind::BusinessFax);
  taken[2] = "x";
  ASSERT_TRUE(NumberKindForTypes({"fax"}, taken, kind));
  EXPECT_EQ(kind, NumberKind::HomeFax);
  EXPECT_FALSE(NumberKindForTypes({"pager"}, taken, kind));
}

TEST(VCardTest, DefaultPathFollowsEnvironment) {
  setenv("VEXO_CONTACTS", "/tmp/other.vcf", 1);
  EXPECT_EQ(ContactBook::DefaultPath(), "/tmp/other.vcf");
  unsetenv("VEXO_CONTACTS");
  const char* old = getenv("HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(ContactBook::DefaultPath(), "/home/someone/contacts.vcf");
  setenv("HOME", saved.c_str(), 1);
}

}  // namespace
}  // namespace vexo

namespace vexo {
namespace {

// An Android phone's 2.1 export (CRLF, UTF-8 quoted-printable with a soft
// break, a custom label in parentheses, a card with FN only) and a Google
// Contacts 3.0 card with a custom "Fax" label on a grouped number.
TEST(VCardTest, AndroidAndGoogleExports) {
  ErrorPool::Instance().Clear();
  ContactBook book = LoadBook("android_google.vcf");
  EXPECT_FALSE(book.Damaged()) << TakeMessages();
  ASSERT_EQ(book.Count(), 3u);
  const Contact* zhang = Find(book, "\xE5\xBC\xA0, \xE4\xB8\x89");
  ASSERT_NE(zhang, nullptr) << book.Item(0).fileAs << "|" << book.Item(1).fileAs;
  EXPECT_EQ(zhang->name, "\xE5\xBC\xA0\xE4\xB8\x89");
  EXPECT_EQ(zhang->Number(NumberKind::Mobile), "+86 138 0013 8000");
  EXPECT_EQ(zhang->Number(NumberKind::BusinessFax), "+86 10 6552 9988");
  const Contact* pizza = Find(book, "Pizza Roma");
  ASSERT_NE(pizza, nullptr);
  EXPECT_EQ(pizza->Number(NumberKind::HomeTel1), "+39 06 555 0000");
  const Contact* grace = Find(book, "Hopper, Grace");
  ASSERT_NE(grace, nullptr);
  EXPECT_EQ(grace->Number(NumberKind::Mobile), "+1 202-555-0143");
  EXPECT_EQ(grace->Number(NumberKind::BusinessTel1), "+1 202-555-0100");
  EXPECT_EQ(grace->second, "grace@navy.example");
  // The custom "Fax" label makes the grouped number a fax number.
  EXPECT_EQ(grace->Number(NumberKind::BusinessFax), "+1 202-555-0199");
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
}

}  // namespace
}  // namespace vexo
