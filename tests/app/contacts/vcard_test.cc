#include "app/contacts/vcard.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/error_pool.h"
#include "tests/support/error_records.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

const std::filesystem::path kData = std::filesystem::path(VEXO_SOURCE_DIR) / "tests/data/contacts";

ContactBook LoadBook(const std::string& name) {
  ContactBook book;
  EXPECT_TRUE(book.Load(kData / name));
  return book;
}

// The contact's numbers in kind order (work 1, work 2, work fax, home 1, home 2,
// home fax, car, mobile, assistant), "|" between them.
std::string Numbers(const Contact& c) {
  std::string all;
  for (std::size_t k = 0; k < kNumberKinds; ++k)
    all += (k > 0 ? "|" : "") + c.Number(static_cast<NumberKind>(k));
  return all;
}

std::string PoolText() { return testing::PrintToString(test::TakeMessages()); }

// Exports of Outlook, Apple, a 4.0 file, an Android phone and Google Contacts
// (quoted-printable, charsets, groups, escapes, labels, URI numbers, cards
// without numbers): each row is the contact at its place in the sorted book.
TEST(VCardTest, ExportsOfCommonProgramsReadWhole) {
  struct Row {
    const char* file;
    std::size_t count, index;
    const char *fileAs, *name, *second, *numbers;
  };
  const Row rows[] = {
      {"outlook21.vcf", 2, 0, "Baker, Anne", "Anne Baker", "", "|||||555 0101|||555 0199"},
      // The pager has no kind; the soft-broken address did not leak into a number.
      {"outlook21.vcf", 2, 1, "M\xC3\xBCller, J\xC3\xBCrgen", "J\xC3\xBCrgen M\xC3\xBCller",
       "Stahlbau Nord",
       "+49 40 1234-0|+49 40 1234-11|+49 40 1234-99|040 555 12|||0172 999|0171 2345678|"},
      {"apple30.vcf", 2, 0, "Acme Fax Service", nullptr, "", "||555 0300||||||"},
      {"apple30.vcf", 2, 1, "O;Neill, Se\xC3\xA1n", nullptr, "Harbour Works, Ltd.",
       "(555) 010-2000||(555) 010-2001|||(555) 010-3000||(555) 777-0000|(555) 010-4000"},
      {"vcard40.vcf", 2, 0, "Adams, Zo\xC3\xAB", nullptr, "zoe@example.org",  // no organisation
       "+1-555-555-0100|||||+1-555-555-0150||+1-555-555-0177|"},
      {"vcard40.vcf", 2, 1, "Numbers, No", nullptr, "Quiet Corp", "||||||||"},
      {"android_google.vcf", 3, 2, "\xE5\xBC\xA0, \xE4\xB8\x89", "\xE5\xBC\xA0\xE4\xB8\x89", "",
       "010 1234||+86 10 6552 9988|||||+86 138 0013 8000|"},
      {"android_google.vcf", 3, 0, "Hopper, Grace", nullptr, "grace@navy.example",
       "+1 202-555-0100||+1 202-555-0199|||||+1 202-555-0143|"},
      {"android_google.vcf", 3, 1, "Pizza Roma", nullptr, "", "|||+39 06 555 0000|||||"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.file) + " " + row.fileAs);
    ErrorPool::Instance().Clear();
    const ContactBook book = LoadBook(row.file);
    EXPECT_FALSE(book.Damaged()) << PoolText();
    EXPECT_EQ(ErrorPool::Instance().Count(), 0);
    ASSERT_EQ(book.Count(), row.count);
    const Contact& c = book.Item(row.index);
    EXPECT_EQ(c.fileAs, row.fileAs);
    if (row.name) {
      EXPECT_EQ(c.name, row.name);
    }
    EXPECT_EQ(c.second, row.second);
    EXPECT_EQ(Numbers(c), row.numbers);
  }
  EXPECT_EQ(LoadBook("apple30.vcf").Item(1).id, "5A1B-APPLE-0001");
  EXPECT_FALSE(LoadBook("vcard40.vcf").Item(1).HasNumbers());
}

TEST(VCardTest, BrokenEmptyAndMissingBooksAndAFolder) {
  ErrorPool::Instance().Clear();
  ContactBook book = LoadBook("broken.vcf");
  EXPECT_TRUE(book.Damaged());
  ASSERT_EQ(book.Count(), 3u);
  EXPECT_EQ(book.Item(0).Number(NumberKind::BusinessTel1), "111");
  EXPECT_EQ(book.Item(1).fileAs, "Second, Half");
  EXPECT_EQ(book.Item(1).Number(NumberKind::BusinessFax), "222");
  EXPECT_EQ(book.Item(2).fileAs, "Truncated, Last");
  const std::string messages = PoolText();
  EXPECT_NE(messages.find("damaged at line 6"), std::string::npos) << messages;
  // Empty and missing books are empty without reports; a folder fails.
  EXPECT_EQ(LoadBook("empty.vcf").Count(), 0u);
  EXPECT_EQ(LoadBook("no-such-book.vcf").Count(), 0u);
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
  EXPECT_FALSE(ContactBook().Load(kData));  // a folder exists but is no file
  EXPECT_NE(PoolText().find("address book"), std::string::npos);
}

// Cards read from text: agents' cards are skipped, invalid bytes replaced, an
// Apple label gives its group's number a kind (a pager none).
TEST(VCardTest, Utf16AgentCardsInvalidBytesLabelsAndNumberKinds) {
  const struct {
    std::string text;
    const char *fileAs, *numbers;
  } rows[] = {
      {"\xFF\xFE" +
           test::Utf16Le("BEGIN:VCARD\r\nN:Wide;W\xC3\xA9\r\nTEL;TYPE=FAX:42\r\nEND:VCARD\r\n"),
       "Wide, W\xC3\xA9", "||42||||||"},
      {"BEGIN:VCARD\nN:Boss;Big\nAGENT:\nBEGIN:VCARD\nN:Helper;Tiny\nTEL:9\nEND:VCARD\n"
       "TEL;WORK:1\nEND:VCARD\nBEGIN:VCARD\nFN:Bad\xFF\xC3(\nEND:VCARD\n",
       "Boss, Big|Bad\xEF\xBF\xBD\xEF\xBF\xBD(", "1||||||||"},
      {"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lab;El\r\n"
       "item1.TEL:111\r\nitem2.TEL:222\r\nitem3.TEL;type=pref:333\r\n"
       "item1.X-ABLabel:_$!<HomeFAX>!$_\r\nitem2.X-ABLabel:_$!<Mobile>!$_\r\n"
       "item3.X-ABLabel:Pager\r\nitem4.X-ABLabel:work fax\r\nEND:VCARD\r\n",
       "Lab, El", "|||||111||222|"},
      // Kinds fill in label order; what finds no free kind of its own is dropped.
      {"BEGIN:VCARD\nN:Many;K\nTEL:1\nTEL:2\nTEL;VOICE:3\nTEL;WORK:4\nTEL;FAX:5\nTEL;FAX:6\n"
       "TEL;PAGER:7\nEND:VCARD\n",
       "Many, K", "1|2|5|3||6|||"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fileAs);
    const VCardReadResult r = ParseVCards(row.text);
    EXPECT_FALSE(r.damaged);
    std::string fileAs;
    for (const Contact& c : r.contacts) fileAs += (fileAs.empty() ? "" : "|") + c.fileAs;
    EXPECT_EQ(fileAs, row.fileAs);
    ASSERT_FALSE(r.contacts.empty());
    EXPECT_EQ(Numbers(r.contacts[0]), row.numbers);
  }
}

TEST(VCardTest, DefaultPathFollowsEnvironment) {
  const std::string home = getenv("HOME") != nullptr ? getenv("HOME") : "";
  setenv("VEXO_CONTACTS", "/tmp/other.vcf", 1);
  EXPECT_EQ(ContactBook::DefaultPath(), "/tmp/other.vcf");
  unsetenv("VEXO_CONTACTS");
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(ContactBook::DefaultPath(), "/home/someone/contacts.vcf");
  setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace vexo
