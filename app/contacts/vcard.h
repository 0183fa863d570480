// The address book: contacts read from a vCard file as desktop and phone
// address books export it (vCard 2.1, 3.0 and 4.0), each reduced to what the
// fax program needs: a file-as name to sort and show, a second text, and the
// nine telephone number kinds of the contact picker.
#pragma once
#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {

// The number kinds in the order the picker's detail list offers them.
enum class NumberKind : std::size_t {
  BusinessTel1 = 0,
  BusinessTel2,
  BusinessFax,
  HomeTel1,
  HomeTel2,
  HomeFax,
  CarTel,
  Mobile,
  AssistantTel,
};
constexpr std::size_t kNumberKinds = 9;

struct Contact {
  std::string id;      // UID, or a name made from the card's place in the file
  std::string fileAs;  // "Family, Given", else the organisation, else FN
  std::string name;    // the formatted name (FN), else built like fileAs
  std::string second;  // organisation when the name comes from N, else an e-mail
  std::array<std::string, kNumberKinds> numbers;  // empty where the contact has none

  const std::string& Number(NumberKind kind) const {
    return numbers[static_cast<std::size_t>(kind)];
  }
  bool HasNumbers() const;
};

// What a read gives: every contact that could be read, and when the text was
// damaged, the first problem found (line number and what was wrong).
struct VCardReadResult {
  std::vector<Contact> contacts;
  bool damaged = false;
  std::size_t problemLine = 0;
  std::string problem;
};

// Reads vCards from the bytes of a file. Never fails as a whole: a damaged card
// or line is skipped (or kept as far as it goes) and noted in the result. All
// texts in the result are valid UTF-8.
VCardReadResult ParseVCards(std::string_view bytes);

// Maps a TEL line's type list (lower case: "work", "fax", "cell", ...) to the
// number kind it fills, given the kinds already taken; returns false when the
// number fits no free kind (a pager, a third work number).
bool NumberKindForTypes(const std::vector<std::string>& types,
                        const std::array<std::string, kNumberKinds>& taken, NumberKind& kind);

// The contact source of the picker: the contacts of one file, sorted by
// file-as name.
class ContactBook {
 public:
  // $VEXO_CONTACTS when set and not empty, else contacts.vcf in the home directory.
  static std::filesystem::path DefaultPath();

  // Reads the file. A missing file is an empty book (true, no report). A file
  // that cannot be read gives false; a damaged one true with what could be read.
  // Both are reported into the error pool.
  bool Load(const std::filesystem::path& file);

  std::size_t Count() const { return m_contacts.size(); }
  const Contact& Item(std::size_t index) const { return m_contacts[index]; }
  const std::vector<Contact>& Contacts() const { return m_contacts; }
  bool Damaged() const { return m_damaged; }

 private:
  std::vector<Contact> m_contacts;
  bool m_damaged = false;
};

// Sorts by file-as name, ignoring case, keeping the file's order among equals.
void SortByFileAs(std::vector<Contact>& contacts);

}  // namespace vexo
