#include "tools/linesim/far_terminal.h"

#include <algorithm>

namespace vexo::linesim {

std::string CodingName(int encoding) {
  switch (encoding) {
    case T4_COMPRESSION_ITU_T4_1D:
      return "T.4 1-D";
    case T4_COMPRESSION_ITU_T4_2D:
      return "T.4 2-D";
    case T4_COMPRESSION_ITU_T6:
      return "T.6";
    default:
      return "";
  }
}

std::unique_ptr<FarTerminal> FarTerminal::Create(const FarTerminalSetup& setup,
                                                 std::string& error) {
  auto terminal = std::make_unique<FarTerminal>(Token(), setup);
  if (terminal->m_fax == nullptr) {
    error = "cannot start the far terminal";
    return nullptr;
  }
  return terminal;
}

FarTerminal::FarTerminal(Token, const FarTerminalSetup& setup) : m_setup(setup) {
  m_fax = fax_init(nullptr, setup.calling);
  if (m_fax == nullptr) return;
  fax_set_transmit_on_idle(m_fax, true);
  t30_state_t* t30 = fax_get_t30_state(m_fax);
  t30_set_tx_ident(t30, setup.ident.c_str());
  t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
  t30_set_supported_compressions(t30, setup.compressions);
  int resolutions = T30_SUPPORT_STANDARD_RESOLUTION;
  if (!setup.refuseFine)
    resolutions |= T30_SUPPORT_FINE_RESOLUTION | T30_SUPPORT_SUPERFINE_RESOLUTION;
  t30_set_supported_resolutions(t30, resolutions);
  t30_set_ecm_capability(t30, setup.ecm);
  if (setup.calling) {
    t30_set_tx_file(t30, setup.txFile.c_str(), -1, -1);
  } else if (!setup.rxFile.empty()) {
    t30_set_rx_file(t30, setup.rxFile.c_str(), -1);
  }
  t30_set_phase_e_handler(t30, &FarTerminal::OnPhaseE, this);
  if (!setup.calling) t30_set_phase_d_handler(t30, &FarTerminal::OnPhaseD, this);
  if (setup.verbose) {
    const int level =
        SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_SHOW_TAG | SPAN_LOG_FLOW;
    span_log_set_level(t30_get_logging_state(t30), level);
    span_log_set_tag(t30_get_logging_state(t30), "far");
  }
}

FarTerminal::~FarTerminal() {
  if (m_fax != nullptr) fax_free(m_fax);
}

void FarTerminal::Transmit(std::span<std::int16_t> out) {
  const int made = fax_tx(m_fax, out.data(), static_cast<int>(out.size()));
  std::fill(out.begin() + std::max(made, 0), out.end(), 0);
}

void FarTerminal::Receive(std::span<std::int16_t> in) {
  fax_rx(m_fax, in.data(), static_cast<int>(in.size()));
}

void FarTerminal::OnPhaseE(t30_state_t* t30, void* self, int completionCode) {
  auto& terminal = *static_cast<FarTerminal*>(self);
  terminal.Collect(t30);
  terminal.m_result.finished = true;
  terminal.m_result.completionCode = completionCode;
  terminal.m_result.completionText = t30_completion_code_to_str(completionCode);
}

int FarTerminal::OnPhaseD(t30_state_t* t30, void* self, int) {
  // Called as each received page is judged, before it is confirmed or refused.
  t30_stats_t stats{};
  t30_get_transfer_statistics(t30, &stats);
  static_cast<FarTerminal*>(self)->m_result.badRows.push_back(stats.bad_rows);
  return T30_ERR_OK;
}

void FarTerminal::Collect(t30_state_t* t30) {
  t30_stats_t stats{};
  t30_get_transfer_statistics(t30, &stats);
  m_result.pages = m_setup.calling ? stats.pages_tx : stats.pages_rx;
  m_result.bitRate = stats.bit_rate;
  m_result.xResolution = stats.x_resolution;
  m_result.yResolution = stats.y_resolution;
  if (stats.pages_tx + stats.pages_rx > 0) {
    m_result.ecm = stats.error_correcting_mode != 0;
    m_result.coding = CodingName(stats.encoding);
  }
  const char* ident = t30_get_rx_ident(t30);
  m_result.remoteIdent = ident != nullptr ? ident : "";
}

FarResult FarTerminal::Result() {
  if (!m_result.finished) {
    t30_state_t* t30 = fax_get_t30_state(m_fax);
    Collect(t30);
    t30_stats_t stats{};
    t30_get_transfer_statistics(t30, &stats);
    // T.30 still counts an unfinished call as going well; it did not finish.
    const int code =
        stats.current_status == T30_ERR_OK ? T30_ERR_CALLDROPPED : stats.current_status;
    m_result.completionCode = code;
    m_result.completionText = t30_completion_code_to_str(code);
  }
  return m_result;
}

}  // namespace vexo::linesim
