#include "tools/linesim/two_port_router.h"

namespace vexo::linesim {
namespace {

constexpr char kDle = 0x10;
constexpr char kEtx = 0x03;
constexpr std::string_view kConnectLine = "\r\nCONNECT\r\n";
constexpr std::size_t kMaxLine = 64;

}  // namespace

void TwoPortRouter::Reset() {
  m_data = false;
  m_dle = false;
  m_anyData = false;
  m_line.clear();
  m_held.clear();
}

TwoPortRouter::Routed TwoPortRouter::Route(std::string_view bytes, bool receiving) {
  Routed out;
  for (const char c : bytes) {
    if (m_data) {
      ToData(c, out);
    } else {
      ToCommand(c, receiving, out);
    }
  }
  return out;
}

void TwoPortRouter::ToCommand(char c, bool receiving, Routed& out) {
  out.command += c;
  if (c != '\n') {
    if (m_line.size() < kMaxLine) m_line += c;
    return;
  }
  const bool connect = m_line == "CONNECT\r";
  m_line.clear();
  if (connect && receiving) {
    m_data = true;
    m_dle = false;
    m_anyData = false;
    m_held.clear();
  }
}

namespace {

// Whether text can still become a result line "\r\nWORDS\r\n"; complete
// when it ends with its second CR LF.
bool ResultLineSoFar(std::string_view text, bool& complete) {
  complete = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 0) {
      if (c != '\r') return false;
    } else if (i == 1) {
      if (c != '\n') return false;
    } else if (c == '\r') {
      if (i == 2 || (i + 1 < text.size() && text[i + 1] != '\n')) return false;
    } else if (c == '\n') {
      complete = i == text.size() - 1 && text[i - 1] == '\r';
      if (!complete) return false;
    } else if (!((c >= 'A' && c <= 'Z') || c == ' ' || c == '+')) {
      return false;
    }
  }
  return text.size() <= kMaxLine;
}

}  // namespace

void TwoPortRouter::ToData(char c, Routed& out) {
  // Before the first data byte a result line may still come: spandsp repeats
  // CONNECT, or the reception ends without data (NO CARRIER, ERROR).
  if (!m_anyData) {
    m_held += c;
    bool complete = false;
    if (ResultLineSoFar(m_held, complete)) {
      if (complete) {
        out.command += m_held;
        if (m_held != kConnectLine) m_data = false;
        m_held.clear();
      }
      return;
    }
    m_anyData = true;
    const std::string held = std::move(m_held);
    m_held.clear();
    for (const char h : held) ToData(h, out);
    return;
  }
  out.data += c;
  if (m_dle) {
    m_dle = false;
    if (c == kEtx) m_data = false;
  } else if (c == kDle) {
    m_dle = true;
  }
}

}  // namespace vexo::linesim
