#include "ui/settings/tif_out_set_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "app/settings/layer_options.h"
#include "app/settings/settings.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "document/tiff_convert.h"
#include "ui/common/ui_strings.h"
#include "ui/settings/font_choice_dlg.h"

namespace vexo::ui {
namespace {

// An edit for a number of at most digits digits.
QLineEdit* NumberEdit(QWidget* parent, const char* name, int digits) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setMaxLength(digits);
  edit->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QString("[0-9]{0,%1}").arg(digits)), edit));
  return edit;
}

std::uint32_t NumberOf(const QLineEdit* edit) { return edit->text().toUInt(); }

}  // namespace

CTifOutSetDlg::CTifOutSetDlg(QWidget* parent) : QWidget(parent), m_font(DefaultLogFont()) {
  setObjectName("CTifOutSetDlg");
  auto* form = new QFormLayout(this);
  // Entries in the order of the PaperSize setting's values.
  m_paperSize = new QComboBox(this);
  m_paperSize->setObjectName("paperSize");
  m_paperSize->addItems(
      {ResString(str::kPaperA4), ResString(str::kPaperLetter), ResString(str::kPaperLegal)});
  form->addRow(ResString(str::kPaperSize), m_paperSize);
  m_paperHeight = NumberEdit(this, "control1004", 4);
  form->addRow(ResString(str::kTextPaperHeight), m_paperHeight);
  m_lineExtra = NumberEdit(this, "control1008", 3);
  form->addRow(ResString(str::kTextLineExtra), m_lineExtra);
  m_tabSize = NumberEdit(this, "control1012", 2);
  form->addRow(ResString(str::kTextTabSize), m_tabSize);
  m_quality = new QComboBox(this);
  m_quality->setObjectName("control1030");
  m_quality->addItems({ResString(str::kQualityNormal), ResString(str::kQualityFine)});
  form->addRow(ResString(str::kTextQuality), m_quality);
  m_resTransfer = new QComboBox(this);
  m_resTransfer->setObjectName("control1031");
  m_resTransfer->addItems(
      {ResString(str::kImagesKeepResolution), ResString(str::kImagesFineResolution)});
  form->addRow(ResString(str::kTextImages), m_resTransfer);
  m_wordWrap = new QCheckBox(ResString(str::kTextWordWrap), this);
  m_wordWrap->setObjectName("control1033");
  form->addRow(m_wordWrap);

  auto* fontRow = new QHBoxLayout;
  m_fontLabel = new QLabel(this);
  m_fontButton = new QPushButton(ResString(str::kTextFontButton), this);
  m_fontButton->setObjectName("fontButton");
  connect(m_fontButton, &QPushButton::clicked, this, &CTifOutSetDlg::ChooseFont);
  fontRow->addWidget(m_fontLabel, 1);
  fontRow->addWidget(m_fontButton);
  form->addRow(ResString(str::kTextFont), fontRow);
}

void CTifOutSetDlg::Load(const AppSettings& s) {
  m_paperSize->setCurrentIndex(s.PaperSize < static_cast<std::uint32_t>(m_paperSize->count())
                                   ? static_cast<int>(s.PaperSize)
                                   : 0);
  m_paperHeight->setText(QString::number(s.T2TPaperHeight));
  m_lineExtra->setText(QString::number(s.T2TLineExtra));
  m_tabSize->setText(QString::number(s.T2TTabSize));
  m_quality->setCurrentIndex(s.T2TQuality == 2 ? 1 : 0);
  m_resTransfer->setCurrentIndex(s.I2TResTransfer == 2 ? 1 : 0);
  m_wordWrap->setChecked(s.T2TWordWrap == 1);
  m_font = s.T2TFont;
  ShowFont();
}

bool CTifOutSetDlg::Accept(AppSettings& s) {
  bool ok = false;
  const std::uint32_t height = m_paperHeight->text().toUInt(&ok);
  if (!ok || height < kMinPaperHeight || height > kMaxPaperHeight) {
    ShowMessage(MB_ICONEXCLAMATION, nullptr, str::kBadPaperHeight);
    return RefuseHeight();
  }
  // The renderers lay the page out with the page's other values (paper,
  // quality, font): a height that leaves no room for it is refused here.
  AppSettings page = s;
  Store(page, height);
  const PaperHeightRange usable = UsablePaperHeights(ConvertOptionsOf(page));
  if (height < usable.lowest || height > usable.highest) {
    ShowMessage(MB_ICONEXCLAMATION, nullptr, str::kPaperHeightUnusable, height, usable.lowest,
                usable.highest);
    return RefuseHeight();
  }
  Store(s, height);
  return true;
}

bool CTifOutSetDlg::RefuseHeight() {
  m_paperHeight->setFocus();
  m_paperHeight->selectAll();
  return false;
}

void CTifOutSetDlg::Store(AppSettings& s, std::uint32_t height) const {
  s.T2TPaperHeight = height;
  s.PaperSize = static_cast<std::uint32_t>(m_paperSize->currentIndex());
  s.T2TLineExtra = NumberOf(m_lineExtra);
  s.T2TTabSize = NumberOf(m_tabSize);
  s.T2TQuality = m_quality->currentIndex() == 1 ? 2 : 1;
  s.T2TWordWrap = m_wordWrap->isChecked() ? 1 : 0;
  s.T2TFont = m_font;
  s.I2TResTransfer = m_resTransfer->currentIndex() == 1 ? 2 : 1;
}

void CTifOutSetDlg::ChooseFont() {
  CFontChoiceDlg dialog(m_font, FontFamilies(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  m_font = dialog.Font();
  ShowFont();
}

void CTifOutSetDlg::ShowFont() {
  QString weight = QString::number(m_font.lfWeight);
  for (const FontWeight& w : kFontWeights)
    if (w.weight == m_font.lfWeight) weight = ResString(w.nameId);
  m_fontLabel->setText(QString("%1, %2, %3")
                           .arg(QString::fromStdString(LogFontFaceName(m_font)))
                           .arg(-m_font.lfHeight)
                           .arg(weight));
}

}  // namespace vexo::ui
