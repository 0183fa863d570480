// CProfSetDlg: the sender profile page of the settings sheet: name, e-mail,
// fax number, two phones, mobile, and the logo bitmap of the cover pages with
// a browse button.
#pragma once

#include <QWidget>

#include <array>

class QLineEdit;
class QPushButton;

namespace vexo {
struct AppSettings;
}

namespace vexo::ui {

constexpr int kProfileMaxChars = 63;
constexpr int kLogoMaxChars = 259;

class CProfSetDlg : public QWidget {
  Q_OBJECT
 public:
  explicit CProfSetDlg(QWidget* parent = nullptr);

  void Load(const AppSettings& settings);
  void Accept(AppSettings& settings) const;
  // Opens the open-file dialog for a bitmap, starting at the current logo; the
  // chosen path goes into the logo edit.
  void BrowseLogo();

  // The edits in the order FullName, Email, FaxNO, Phone1, Phone2, Mobile.
  QLineEdit* Edit(int index) const { return m_edits[static_cast<std::size_t>(index)]; }
  QLineEdit* Logo() const { return m_logo; }
  QPushButton* Browse() const { return m_browse; }

 private:
  std::array<QLineEdit*, 6> m_edits{};
  QLineEdit* m_logo = nullptr;
  QPushButton* m_browse = nullptr;
};

}  // namespace vexo::ui
