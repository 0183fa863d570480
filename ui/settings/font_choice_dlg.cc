#include "ui/settings/font_choice_dlg.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <cstdlib>

#include "base/string_ids.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

// The entry nearest to value among values (the first at equal distance).
template <typename Values, typename Value>
int NearestIndex(const Values& values, Value value) {
  int best = 0;
  for (int i = 1; i < static_cast<int>(values.size()); ++i)
    if (std::abs(values[i] - value) < std::abs(values[best] - value)) best = i;
  return best;
}

}  // namespace

int NearestFontSize(int height) {
  if (height <= kFontSizes.front()) return kFontSizes.front();
  if (height >= kFontSizes.back()) return kFontSizes.back();
  return kFontSizes[static_cast<std::size_t>(NearestIndex(kFontSizes, height))];
}

QStringList FontFamilies() { return QFontDatabase::families(); }

CFontChoiceDlg::CFontChoiceDlg(const LOGFONTW& font, const QStringList& families, QWidget* parent)
    : QDialog(parent), m_font(font) {
  setObjectName("CFontChoiceDlg");
  setWindowTitle(ResString(str::kFontTitle));
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(ResString(str::kFontFace), this), 0, 0);
  grid->addWidget(new QLabel(ResString(str::kFontSize), this), 0, 1);
  grid->addWidget(new QLabel(ResString(str::kFontWeight), this), 0, 2);

  m_faces = new QListWidget(this);
  m_faces->setObjectName("control1036");
  m_faces->addItems(families);
  const QString face = QString::fromStdString(LogFontFaceName(font));
  const QList<QListWidgetItem*> match = m_faces->findItems(face, Qt::MatchExactly);
  if (!match.isEmpty()) {
    m_faces->setCurrentItem(match.front());
  } else if (m_faces->count() > 0) {
    // The face is not installed: the first family is taken, in the default
    // character set (a family here is not tied to one character set).
    m_faces->setCurrentRow(0);
    m_font.lfCharSet = DEFAULT_CHARSET;
  }

  m_sizes = new QListWidget(this);
  m_sizes->setObjectName("control1037");
  for (int size : kFontSizes) m_sizes->addItem(QString::number(size));
  const int size = NearestFontSize(-font.lfHeight);
  m_font.lfHeight = -size;
  for (std::size_t i = 0; i < kFontSizes.size(); ++i)
    if (kFontSizes[i] == size) m_sizes->setCurrentRow(static_cast<int>(i));

  m_weights = new QListWidget(this);
  m_weights->setObjectName("control1038");
  std::array<std::int32_t, kFontWeights.size()> weights{};
  for (std::size_t i = 0; i < kFontWeights.size(); ++i) {
    m_weights->addItem(ResString(kFontWeights[i].nameId));
    weights[i] = kFontWeights[i].weight;
  }
  m_weights->setCurrentRow(NearestIndex(weights, font.lfWeight));

  grid->addWidget(m_faces, 1, 0);
  grid->addWidget(m_sizes, 1, 1);
  grid->addWidget(m_weights, 1, 2);
  grid->setColumnStretch(0, 3);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(ResString(str::kOk));
  buttons->button(QDialogButtonBox::Cancel)->setText(ResString(str::kCancel));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  grid->addWidget(buttons, 2, 0, 1, 3);
  resize(480, 360);
}

LOGFONTW CFontChoiceDlg::Font() const {
  LOGFONTW font = m_font;
  if (QListWidgetItem* face = m_faces->currentItem())
    SetLogFontFaceName(font, face->text().toStdString());
  const int size = m_sizes->currentRow();
  if (size >= 0) font.lfHeight = -kFontSizes[static_cast<std::size_t>(size)];
  const int weight = m_weights->currentRow();
  if (weight >= 0) font.lfWeight = kFontWeights[static_cast<std::size_t>(weight)].weight;
  return font;
}

}  // namespace vexo::ui
