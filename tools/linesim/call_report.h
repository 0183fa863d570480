// The record the simulator keeps of each call: who called whom, how it ended,
// and what the far end's T.30 saw. Printed as one line on stdout and, with
// --report, appended to a file as one JSON object per line.
#pragma once

#include <string>
#include <vector>

namespace vexo::linesim {

struct CallReport {
  int call = 0;           // calls counted from 1
  std::string direction;  // "out": a modem dialled; "in": the far terminal called
  int modem = 0;          // the modem that dialled or was called
  std::string far;        // "terminal" or "modem N"
  std::string number;     // the dialled number, for calls out
  std::string outcome;    // "completed", "busy", "no answer", "no dialtone", ...
  int pages = 0;
  int pagesRefused = 0;          // pages a receiver answered with RTN, where that is known
  std::string farIdent;          // the far end's identifier: --far-id, or what modem 2 sent
  std::string identSeenByFar;    // identifier the far end received from the program
  std::string identSeenByModem;  // identifier the program received from the far end
  int bitRate = 0;
  std::string resolution;   // "normal", "fine", "superfine" or ""
  bool ecm = false;         // the pages went with error correction mode
  std::string coding;       // "T.4 1-D", "T.4 2-D", "T.6"; empty: no session chosen
  int completionCode = -1;  // the far terminal's T.30 completion code; -1: no terminal
  std::string completionText;
  double seconds = 0;               // from dialling (or the first ring) to the end of the call
  std::string receivedFile;         // TIFF written by the far terminal
  std::vector<std::string> faults;  // line faults that fired: "corrupt far:1", "noise page 2"
  std::vector<int> farBadRows;      // per page the far terminal received: rows it could not decode
};

// Pages the far terminal decoded without a bad row.
int FarPagesIntact(const CallReport& report);

// "call 1 out modem 1 -> terminal: completed, 2 pages, 14400 bit/s, fine, ..."
std::string FormatReportLine(const CallReport& report);
// One JSON object on one line, without the newline.
std::string FormatReportJson(const CallReport& report);

// spandsp's rows per metre as the resolution name used in reports.
std::string ResolutionName(int yResolution);

}  // namespace vexo::linesim
