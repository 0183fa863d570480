// CTifOutSetDlg: the text and image page of the settings sheet: paper size
// (A4, Letter, Legal), paper height, extra line spacing, tab size, text quality, image resolution,
// word wrap and the font text is drawn in.
#pragma once

#include <QWidget>

#include <functional>

#include "platform/raster/log_font.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vexo {
struct AppSettings;
}

namespace vexo::ui {

// The paper heights accepted, in tenths of a millimetre.
constexpr std::uint32_t kMinPaperHeight = 100;
constexpr std::uint32_t kMaxPaperHeight = 9999;

class CTifOutSetDlg : public QWidget {
  Q_OBJECT
 public:
  explicit CTifOutSetDlg(QWidget* parent = nullptr);

  void Load(const AppSettings& settings);
  // Checks the paper height first (a number from 100 to 9999 that leaves the
  // page room with the page's other values); false (after the message, with
  // the edit focused and selected) keeps the page.
  bool Accept(AppSettings& settings);

  // Opens the font choice dialog on the page's copy of the font record.
  void ChooseFont();
  const LOGFONTW& FontCopy() const { return m_font; }

  QComboBox* PaperSize() const { return m_paperSize; }
  QLineEdit* PaperHeight() const { return m_paperHeight; }
  QLineEdit* LineExtra() const { return m_lineExtra; }
  QLineEdit* TabSize() const { return m_tabSize; }
  QComboBox* Quality() const { return m_quality; }
  QComboBox* ResTransfer() const { return m_resTransfer; }
  QCheckBox* WordWrap() const { return m_wordWrap; }
  QPushButton* FontButton() const { return m_fontButton; }

 private:
  void ShowFont();
  // Focuses and selects the paper height; false.
  bool RefuseHeight();
  // The page's values, with the paper height given.
  void Store(AppSettings& s, std::uint32_t height) const;

  LOGFONTW m_font;
  QComboBox* m_paperSize = nullptr;
  QLineEdit* m_paperHeight = nullptr;
  QLineEdit* m_lineExtra = nullptr;
  QLineEdit* m_tabSize = nullptr;
  QComboBox* m_quality = nullptr;
  QComboBox* m_resTransfer = nullptr;
  QCheckBox* m_wordWrap = nullptr;
  QLabel* m_fontLabel = nullptr;
  QPushButton* m_fontButton = nullptr;
};

}  // namespace vexo::ui
