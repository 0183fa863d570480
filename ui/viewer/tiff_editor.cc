#include "ui/viewer/tiff_editor.h"

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <array>

#include "base/error_pool.h"
#include "base/string_ids.h"
#include "document/pdf_export.h"
#include "document/tiff_update.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

// The scale menu's entries in the order of ViewScale.
constexpr std::array kScaleTexts{str::kViewerFitWidth, str::kViewerFullSize, str::kViewerOneHalf,
                                 str::kViewerOneQuarter, str::kViewerOneEighth};
constexpr std::array<std::uint16_t, 4> kPenWidths{1, 2, 4, 8};
constexpr std::array kPenWidthTexts{str::kViewerPenWidth1, str::kViewerPenWidth2,
                                    str::kViewerPenWidth4, str::kViewerPenWidth8};
constexpr int kPageBoxChars = 3;

QToolButton* MenuButton(const QString& text, QMenu* menu, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setText(text);
  button->setMenu(menu);
  button->setPopupMode(QToolButton::InstantPopup);
  return button;
}

}  // namespace

CTiffEditor::CTiffEditor(LogFile* systemLog, QWidget* parent)
    : QDialog(parent), m_systemLog(systemLog) {
  setWindowTitle(ResString(str::kViewerTitle));
  setObjectName("TiffEditor");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_view = new PageView(this);
  BuildToolBar();
  layout->addWidget(m_view, 1);
  connect(m_view, &PageView::InkChanged, this, &CTiffEditor::UpdateInkActions);
  connect(this, &QDialog::finished, this, [this] {
    // Closing frees the strokes, the file and the page.
    m_ink.clear();
    m_view->ClearPage();
    m_file.Close();
    m_page = {};
    m_shown = 0;
  });
  resize(900, 700);
  UpdateInkActions();
}

void CTiffEditor::BuildToolBar() {
  auto* bar = new QToolBar(this);
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  static_cast<QVBoxLayout*>(layout())->addWidget(bar);

  QAction* previous =
      bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), ResString(str::kViewerPrevious),
                     this, &CTiffEditor::PreviousPage);
  previous->setObjectName("button151");
  m_pageBox = new QLineEdit(bar);
  m_pageBox->setObjectName("control112");
  m_pageBox->setMaxLength(kPageBoxChars);
  m_pageBox->setValidator(new QIntValidator(0, 999, m_pageBox));
  m_pageBox->setFixedWidth(m_pageBox->fontMetrics().horizontalAdvance("0000") + 12);
  m_pageBox->setAlignment(Qt::AlignCenter);
  connect(m_pageBox, &QLineEdit::editingFinished, this,
          [this] { GoToTypedPage(m_pageBox->text()); });
  bar->addWidget(m_pageBox);
  m_totalLabel = new QLabel(bar);
  m_totalLabel->setMinimumWidth(
      m_totalLabel->fontMetrics().horizontalAdvance(ResFormat(str::kViewerOfPages, 999)) + 8);
  m_totalLabel->setContentsMargins(4, 0, 4, 0);
  bar->addWidget(m_totalLabel);
  QAction* next = bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward),
                                 ResString(str::kViewerNext), this, &CTiffEditor::NextPage);
  next->setObjectName("button149");
  bar->addSeparator();

  // Scale menu (button 144).
  auto* scaleMenu = new QMenu(this);
  m_scales = new QActionGroup(this);
  for (int i = 0; i < static_cast<int>(kScaleTexts.size()); ++i) {
    QAction* action = scaleMenu->addAction(ResString(kScaleTexts[static_cast<std::size_t>(i)]));
    action->setCheckable(true);
    action->setData(i);
    action->setChecked(i == static_cast<int>(m_view->Scale()));
    m_scales->addAction(action);
  }
  connect(m_scales, &QActionGroup::triggered, this,
          [this](QAction* a) { SetScale(static_cast<ViewScale>(a->data().toInt())); });
  bar->addWidget(MenuButton(ResString(str::kViewerScale), scaleMenu, bar))
      ->setObjectName("button144");

  // Pen (167) and move (146): check buttons that exclude each other.
  m_penButton = new QToolButton(bar);
  m_penButton->setText(ResString(str::kViewerPen));
  m_penButton->setObjectName("button167");
  m_penButton->setCheckable(true);
  m_moveButton = new QToolButton(bar);
  m_moveButton->setText(ResString(str::kViewerMove));
  m_moveButton->setObjectName("button146");
  m_moveButton->setCheckable(true);
  m_moveButton->setChecked(true);
  auto* modes = new QButtonGroup(this);
  modes->setExclusive(true);
  modes->addButton(m_penButton);
  modes->addButton(m_moveButton);
  connect(m_penButton, &QToolButton::toggled, this, [this](bool on) { m_view->SetPenMode(on); });
  bar->addWidget(m_penButton);
  bar->addWidget(m_moveButton);

  // Ink menu (button 168).
  auto* inkMenu = new QMenu(this);
  m_widths = new QActionGroup(this);
  for (std::size_t i = 0; i < kPenWidths.size(); ++i) {
    QAction* action = inkMenu->addAction(ResString(kPenWidthTexts[i]));
    action->setCheckable(true);
    action->setData(kPenWidths[i]);
    action->setChecked(kPenWidths[i] == m_view->PenWidth());
    m_widths->addAction(action);
  }
  connect(m_widths, &QActionGroup::triggered, this,
          [this](QAction* a) { SetPenWidth(static_cast<std::uint16_t>(a->data().toInt())); });
  inkMenu->addSeparator();
  m_colours = new QActionGroup(this);
  for (InkColour colour : {InkColour::Black, InkColour::White}) {
    QAction* action = inkMenu->addAction(
        ResString(colour == InkColour::Black ? str::kViewerBlackPen : str::kViewerWhitePen));
    action->setCheckable(true);
    action->setData(static_cast<int>(colour));
    action->setChecked(colour == m_view->PenColour());
    m_colours->addAction(action);
  }
  connect(m_colours, &QActionGroup::triggered, this,
          [this](QAction* a) { SetPenColour(static_cast<InkColour>(a->data().toInt())); });
  inkMenu->addSeparator();
  m_undo = inkMenu->addAction(ResString(str::kViewerUndoStroke), this, &CTiffEditor::UndoStroke);
  m_keepInk = inkMenu->addAction(ResString(str::kViewerKeepInk), this, [this] { KeepInk(); });
  m_removeAll =
      inkMenu->addAction(ResString(str::kViewerRemoveInk), this, &CTiffEditor::RemoveAllStrokes);
  bar->addWidget(MenuButton(ResString(str::kViewerInk), inkMenu, bar))->setObjectName("button168");

  QAction* undo = bar->addAction(ResString(str::kViewerUndo), this, &CTiffEditor::UndoStroke);
  undo->setObjectName("button170");

  // View menu (button 171): invert, PDF export.
  auto* viewMenu = new QMenu(this);
  m_invert = viewMenu->addAction(ResString(str::kViewerInvert));
  m_invert->setCheckable(true);
  connect(m_invert, &QAction::toggled, this, &CTiffEditor::SetInverted);
  viewMenu->addAction(ResString(str::kExportPdf), this, &CTiffEditor::ChooseExportFile);
  bar->addWidget(MenuButton(ResString(str::kViewerView), viewMenu, bar))
      ->setObjectName("button171");

  auto* spacer = new QWidget(bar);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  bar->addWidget(spacer);
  auto* ok = new QPushButton(ResString(str::kOk), bar);
  ok->setObjectName("ok");
  // Return in the page number box shows the typed page; it must not close.
  ok->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  bar->addWidget(ok);
}

int CTiffEditor::ShowTiff(const std::string& path) {
  m_file.Close();
  m_view->ClearPage();
  m_ink.clear();
  m_page = {};
  m_shown = 0;
  UpdatePageBox();
  if (!m_file.Open(path)) {
    Flush();
    return 0;
  }
  if (!IsSystemFaxPage(m_file.Tags())) {
    ReportText(0, kMsgDefault, kViewerModule, "ShowTiff", kForeignTiffMessage);
    Flush();
    m_file.Close();
    return 0;
  }
  std::optional<ViewerPage> page = m_file.Decode();
  if (!page) {
    Flush();
    m_file.Close();
    return 0;
  }
  m_page = std::move(*page);
  m_shown = 1;
  m_view->SetPage(m_page);
  m_view->SetInk(&m_ink[m_shown]);
  UpdatePageBox();
  UpdateInkActions();
  return 1;
}

bool CTiffEditor::ShowPage(std::uint32_t index, const char* function) {
  if (m_shown == 0 || index + 1 == m_shown) {
    UpdatePageBox();
    return m_shown != 0;
  }
  const std::uint32_t before = m_shown - 1;
  if (!m_file.SelectPage(index)) {
    Flush();
    UpdatePageBox();
    return false;
  }
  std::optional<ViewerPage> page;
  if (!IsSystemFaxPage(m_file.Tags())) {
    ReportText(0, kMsgDefault, kViewerModule, function, kForeignTiffMessage);
  } else {
    page = m_file.Decode();
  }
  if (!page) {
    m_file.SelectPage(before);
    Flush();
    UpdatePageBox();
    return false;
  }
  m_page = std::move(*page);
  m_shown = index + 1;
  m_view->SetPage(m_page);
  m_view->SetInk(&m_ink[m_shown]);
  UpdatePageBox();
  UpdateInkActions();
  return true;
}

void CTiffEditor::PreviousPage() {
  if (m_shown > 1) ShowPage(m_shown - 2, "OnTifPrevious");
}

void CTiffEditor::NextPage() {
  if (m_shown != 0 && m_shown < m_file.PageTotal()) ShowPage(m_shown, "OnTifNext");
}

void CTiffEditor::GoToTypedPage(const QString& typed) {
  bool ok = false;
  const int number = typed.trimmed().toInt(&ok);
  if (!ok || number < 1 || static_cast<std::uint32_t>(number) > m_file.PageTotal()) {
    UpdatePageBox();
    return;
  }
  ShowPage(static_cast<std::uint32_t>(number) - 1, "OnTifPrevious");
}

void CTiffEditor::UpdatePageBox() {
  m_pageBox->setText(m_shown == 0 ? QString() : QString::number(m_shown));
  m_totalLabel->setText(m_shown == 0
                            ? QString()
                            : ResFormat(str::kViewerOfPages, static_cast<int>(m_file.PageTotal())));
}

void CTiffEditor::SetScale(ViewScale scale) {
  m_view->SetScale(scale);
  for (QAction* action : m_scales->actions())
    action->setChecked(action->data().toInt() == static_cast<int>(scale));
}

void CTiffEditor::SetPenMode(bool on) { (on ? m_penButton : m_moveButton)->setChecked(true); }

void CTiffEditor::SetPenWidth(std::uint16_t width) {
  m_view->SetPen(m_view->PenColour(), width);
  for (QAction* action : m_widths->actions()) action->setChecked(action->data().toInt() == width);
}

void CTiffEditor::SetPenColour(InkColour colour) {
  m_view->SetPen(colour, m_view->PenWidth());
  for (QAction* action : m_colours->actions())
    action->setChecked(action->data().toInt() == static_cast<int>(colour));
}

void CTiffEditor::UndoStroke() {
  if (m_shown == 0) return;
  m_ink[m_shown].Undo();
  m_view->viewport()->update();
  UpdateInkActions();
}

void CTiffEditor::RemoveAllStrokes() {
  if (m_shown == 0) return;
  m_ink[m_shown].Clear();
  m_view->viewport()->update();
  UpdateInkActions();
}

void CTiffEditor::SetInverted(bool inverted) {
  m_view->SetInverted(inverted);
  if (m_invert->isChecked() != inverted) m_invert->setChecked(inverted);
}

void CTiffEditor::UpdateInkActions() {
  const bool ink = m_shown != 0 && !m_ink[m_shown].Empty();
  m_undo->setEnabled(ink);
  m_keepInk->setEnabled(ink);
  m_removeAll->setEnabled(ink);
}

int CTiffEditor::KeepInk() {
  if (m_shown == 0) return 0;
  InkChain& chain = m_ink[m_shown];
  if (chain.Empty()) return 1;
  const ViewerPage burnt = BurnInk(m_page, chain.Strokes());
  const std::string path = m_file.Path();
  const std::uint32_t index = m_shown - 1;
  if (UpdateFiledPage(path, static_cast<std::uint16_t>(index), burnt.bits.data(),
                      burnt.bits.size()) != 1) {
    Flush();
    return 0;
  }
  // The file was replaced: show the page as it now stands in it.
  chain.Clear();
  std::optional<ViewerPage> page;
  if (m_file.Open(path) && m_file.SelectPage(index)) page = m_file.Decode();
  if (!page) {
    Flush();
    return 0;
  }
  m_page = std::move(*page);
  m_view->SetPage(m_page);
  m_view->SetInk(&chain);
  UpdateInkActions();
  return 1;
}

int CTiffEditor::ExportPdf(const std::string& pdfPath) {
  if (m_shown == 0) return 0;
  std::uint32_t pages = 0;
  if (ExportFaxToPdf(m_file.Path(), pdfPath, &pages) != 1) {
    Flush();
    return 0;
  }
  return 1;
}

void CTiffEditor::ChooseExportFile() {
  if (m_shown == 0) return;
  const QFileInfo tiff(QString::fromStdString(m_file.Path()));
  const QString suggested = tiff.absolutePath() + "/" + tiff.completeBaseName() + ".pdf";
  QString chosen = QFileDialog::getSaveFileName(this, ResString(str::kExportPdf).remove("..."),
                                                suggested, ResString(str::kPdfFilter));
  if (chosen.isEmpty()) return;
  if (!chosen.endsWith(".pdf", Qt::CaseInsensitive)) chosen += ".pdf";
  ExportPdf(chosen.toStdString());
}

void CTiffEditor::Flush() {
  if (ErrorPool::Instance().Count() > 0) FlushErrorPool(m_systemLog, false);
}

}  // namespace vexo::ui
