// The info pane (CFaxInfoView): the details of the fax selected in the list,
// drawn as lines of text in a scroll view: the contact in dark blue, then the
// telephone, the remote station, the two info texts, the pages, the resolution
// and the size of the fax file.
#pragma once

#include <QScrollArea>
#include <QStringList>

#include <optional>

#include "app/store/fax_record.h"

namespace vexo {
struct AppSettings;
class LogFile;
}  // namespace vexo

namespace vexo::ui {

class CFaxInfoView : public QScrollArea {
  Q_OBJECT
 public:
  // settings gives TIFDataDir for the file size; log takes the pane's failures.
  CFaxInfoView(const AppSettings* settings, LogFile* log, QWidget* parent = nullptr);

  void ShowRecord(const FaxRecord& record);
  void Clear();
  bool HasRecord() const { return m_record.has_value(); }
  const std::optional<FaxRecord>& Record() const { return m_record; }
  // The lines drawn, first the contact.
  const QStringList& Lines() const { return m_lines; }

  // The size line's value: "%d.%dK" with the size in kilobytes and one decimal.
  static QString SizeText(std::uint64_t bytes);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  class Canvas;
  void BuildLines();
  std::optional<std::uint64_t> FileSize(const FaxRecord& record) const;

  const AppSettings* m_settings;
  LogFile* m_log;
  std::optional<FaxRecord> m_record;
  QStringList m_lines;
  Canvas* m_canvas = nullptr;
};

}  // namespace vexo::ui
