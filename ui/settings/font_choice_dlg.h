// The font choice dialog of the text and image page: face, size and weight of
// the font text attachments are drawn in, edited on a copy of the font record.
#pragma once

#include <QDialog>

#include <array>
#include <cstdint>

#include "base/string_ids.h"
#include "platform/raster/log_font.h"

class QListWidget;

namespace vexo::ui {

constexpr std::array<int, 15> kFontSizes{8, 9, 10, 11, 12, 14, 16, 20, 24, 28, 36, 44, 52, 60, 75};

struct FontWeight {
  unsigned nameId;  // string-table id of the name shown
  std::int32_t weight;
};
constexpr std::array<FontWeight, 5> kFontWeights{{{str::kFontThin, 100},
                                                  {str::kFontLight, 300},
                                                  {str::kFontNormal, 400},
                                                  {str::kFontBold, 600},
                                                  {str::kFontUltraBold, 800}}};

// The size list entry for a height: below the first the first, at or above the
// last the last, an exact size kept, between two the nearer one (the smaller at
// equal distance).
int NearestFontSize(int height);

class CFontChoiceDlg : public QDialog {
  Q_OBJECT
 public:
  // families: the faces offered, in order; font: the record to start from.
  CFontChoiceDlg(const LOGFONTW& font, const QStringList& families, QWidget* parent = nullptr);

  // The record with the chosen face, size and weight (all else as given).
  LOGFONTW Font() const;

  QListWidget* Faces() const { return m_faces; }
  QListWidget* Sizes() const { return m_sizes; }
  QListWidget* Weights() const { return m_weights; }

 private:
  LOGFONTW m_font;
  QListWidget* m_faces = nullptr;
  QListWidget* m_sizes = nullptr;
  QListWidget* m_weights = nullptr;
};

// The font families of this machine.
QStringList FontFamilies();

}  // namespace vexo::ui
