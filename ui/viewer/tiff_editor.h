// CTiffEditor: the fax page viewer window. A tool bar with previous and next
// page, the page number box, the scale menu, the pen and move buttons, the ink
// menu, undo, and a menu with invert and PDF export; below it the page area.
// Ink is kept per page while the file is shown and can be burnt into the page
// of the file (the file is rewritten in a copy that replaces it).
#pragma once

#include <QDialog>

#include <cstdint>
#include <map>
#include <string>

#include "ui/viewer/fax_page_file.h"
#include "ui/viewer/ink_chain.h"
#include "ui/viewer/page_view.h"

class QAction;
class QActionGroup;
class QLabel;
class QLineEdit;
class QToolButton;

namespace vexo {
class LogFile;
}

namespace vexo::ui {

class CTiffEditor : public QDialog {
  Q_OBJECT
 public:
  explicit CTiffEditor(LogFile* systemLog = nullptr, QWidget* parent = nullptr);

  // Opens path and shows its page 1; 1 shown, 0 failed (reported, pool flushed,
  // nothing shown).
  int ShowTiff(const std::string& path);

  // Page navigation (as the buttons and the page number box do it).
  void PreviousPage();
  void NextPage();
  void GoToTypedPage(const QString& typed);
  // The page shown, from 1; 0 when nothing is shown.
  std::uint32_t PageShown() const { return m_shown; }
  std::uint32_t PageTotal() const { return m_file.PageTotal(); }

  void SetScale(ViewScale scale);
  void SetPenMode(bool on);
  void SetPenWidth(std::uint16_t width);
  void SetPenColour(InkColour colour);
  void UndoStroke();
  void RemoveAllStrokes();
  void SetInverted(bool inverted);
  // Burns the ink of the page shown into the file; 1, or 0 after a flushed report.
  int KeepInk();
  // Writes every page of the file as a PDF; 1, or 0 after a flushed report.
  int ExportPdf(const std::string& pdfPath);

  PageView* View() const { return m_view; }
  QLineEdit* PageBox() const { return m_pageBox; }
  // The ink of page number (from 1).
  const InkChain& InkOf(std::uint32_t page) { return m_ink[page]; }

 private:
  void BuildToolBar();
  // Selects page index (from 0), checks and decodes it; false after a flushed
  // report (the page shown stays).
  bool ShowPage(std::uint32_t index, const char* function);
  void UpdatePageBox();
  void UpdateInkActions();
  void ChooseExportFile();
  void Flush();

  LogFile* m_systemLog;
  FaxPageFile m_file;
  ViewerPage m_page;
  std::uint32_t m_shown = 0;
  std::map<std::uint32_t, InkChain> m_ink;  // by page number

  PageView* m_view = nullptr;
  QLineEdit* m_pageBox = nullptr;
  QLabel* m_totalLabel = nullptr;
  QToolButton* m_penButton = nullptr;
  QToolButton* m_moveButton = nullptr;
  QAction* m_undo = nullptr;
  QAction* m_keepInk = nullptr;
  QAction* m_removeAll = nullptr;
  QAction* m_invert = nullptr;
  QActionGroup* m_scales = nullptr;
  QActionGroup* m_widths = nullptr;
  QActionGroup* m_colours = nullptr;
};

}  // namespace vexo::ui
