// The conversion step of the send chain (ConvFileDlg): names a new fax file,
// measures the work, runs the conversion of the cover page and attachments on
// the converter's thread with a live progress bar, and closes with Next after
// success, Cancel after a failure (the reasons shown first) and Back when the
// user cancelled. A failed or cancelled conversion leaves no file behind.
#pragma once

#include <QDialog>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "document/tiff_convert.h"
#include "ui/send/send_chain.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vexo::ui {

class ConvFileDlg : public QDialog {
  Q_OBJECT
 public:
  // sources: what to convert (fields.sources for a new fax, the record's file
  // when forwarding). On success fields.generatedFile, pages and bytes are set.
  ConvFileDlg(const SendContext& context, SendFields& fields, std::vector<std::string> sources,
              QWidget* parent = nullptr);
  ~ConvFileDlg() override;

  QProgressBar* Progress() const { return m_progress; }
  QPushButton* CancelButton() const { return m_cancel; }
  // The progress reports seen so far (the tests check the bar moved).
  int ProgressUpdates() const { return m_updates; }

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  void Begin();
  void Fail();
  void ShowProgress();
  void Finished(ConvertOutcome outcome);

  const SendContext& m_context;
  SendFields& m_fields;
  std::vector<std::string> m_sources;
  std::unique_ptr<TiffConvert> m_convert;
  std::string m_output;
  std::int64_t m_total = 0;
  std::atomic<std::uint64_t> m_done{0};
  std::atomic<bool> m_progressPending{false};
  std::uint32_t m_pages = 0;
  std::uint64_t m_bytes = 0;
  bool m_started = false;
  bool m_running = false;
  int m_updates = 0;
  QLabel* m_status = nullptr;
  QProgressBar* m_progress = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace vexo::ui
