#include "tools/linesim/options.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

namespace vexo::linesim {
namespace {

constexpr int kMaxSpeed = 16;
constexpr double kMaxHangupSeconds = 3600;
constexpr double kMaxNoiseDb = 80;
constexpr int kMaxLineDelayMs = 500;
constexpr int kMaxCallInRepeat = 1000;
constexpr int kMaxBusyCalls = 1000;

// Every modulation code a Class 1 modem of this simulator can run.
constexpr int kKnownModulations[] = {24, 48, 72, 73, 74, 96, 97, 98, 121, 122, 145, 146};
// Every class value the Class 1 modem can select.
constexpr std::string_view kKnownClasses[] = {"0", "1", "1.0"};

std::vector<std::string_view> SplitCommas(std::string_view text) {
  std::vector<std::string_view> parts;
  while (true) {
    const auto comma = text.find(',');
    parts.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return parts;
}

bool ParseInt(std::string_view text, int& value) {
  const auto* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

bool ParseDouble(std::string_view text, double& value) {
  const auto* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

bool ParseModulations(std::string_view text, std::vector<int>& out) {
  out.clear();
  for (auto part : SplitCommas(text)) {
    int code = 0;
    if (!ParseInt(part, code) ||
        std::find(std::begin(kKnownModulations), std::end(kKnownModulations), code) ==
            std::end(kKnownModulations))
      return false;
    out.push_back(code);
  }
  return !out.empty();
}

bool ParseClasses(std::string_view text, std::vector<std::string>& out) {
  out.clear();
  for (auto part : SplitCommas(text)) {
    if (std::find(std::begin(kKnownClasses), std::end(kKnownClasses), part) ==
        std::end(kKnownClasses))
      return false;
    out.emplace_back(part);
  }
  return !out.empty();
}

constexpr double kDefaultPageNoiseSnrDb = 17;
constexpr int kMaxFrameNumber = 1000;

// "far:1,3" or "modem:2" into the frame list of that sender.
bool ParseFrameFault(std::string_view text, std::vector<int> (&lists)[2]) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const auto who = text.substr(0, colon);
  if (who != "far" && who != "modem") return false;
  auto& list = lists[who == "far" ? 0 : 1];
  for (auto part : SplitCommas(text.substr(colon + 1))) {
    int n = 0;
    if (!ParseInt(part, n) || n < 1 || n > kMaxFrameNumber) return false;
    list.push_back(n);
  }
  return true;
}

// "PAGE[:SNR]".
bool ParsePageNoise(std::string_view text, FaultOptions& faults) {
  const auto colon = text.find(':');
  faults.noisePageSnrDb = kDefaultPageNoiseSnrDb;
  if (colon != std::string_view::npos &&
      (!ParseDouble(text.substr(colon + 1), faults.noisePageSnrDb) ||
       faults.noisePageSnrDb < -kMaxNoiseDb || faults.noisePageSnrDb > kMaxNoiseDb))
    return false;
  return ParseInt(text.substr(0, colon), faults.noisePage) && faults.noisePage >= 1;
}

// "PCT[:SEED]".
bool ParseLoss(std::string_view text, FaultOptions& faults) {
  const auto colon = text.find(':');
  if (colon != std::string_view::npos) {
    int seed = 0;
    if (!ParseInt(text.substr(colon + 1), seed) || seed < 0) return false;
    faults.lossSeed = static_cast<unsigned>(seed);
  }
  return ParseDouble(text.substr(0, colon), faults.lossPercent) && faults.lossPercent > 0 &&
         faults.lossPercent <= 100;
}

}  // namespace

bool FaultOptions::any() const {
  return framesOf(0) || framesOf(1) || noisePage > 0 || lossPercent > 0;
}

const char* UsageText() {
  return "usage: vexo-linesim [options]\n"
         "  --far terminal|modem    far end: spandsp T.30 terminal (default) or a second modem\n"
         "  --far-id ID             station identifier of the far terminal\n"
         "  --far-receive DIR       the far terminal stores each received fax in DIR\n"
         "  --call-in FILE.tif      the far terminal calls the modem and sends FILE.tif\n"
         "  --call-in-repeat N      with --call-in: call in again after each call, N calls\n"
         "  --far-refuse-fine       the far terminal offers normal resolution only\n"
         "  --far-ecm               the far end offers and uses ECM (T.30 Annex A)\n"
         "  --far-coding mh|mr|mmr  the far end's highest coding (MMR needs --far-ecm)\n"
         "  --busy | --no-answer | --no-dialtone   line events on dialling\n"
         "  --busy-calls N          the first N dialled calls find the number busy\n"
         "  --hangup-after SECONDS  the far end drops the line SECONDS after answering\n"
         "  --noise DB              white noise DB below the signal on both directions\n"
         "  --signal-noise DB       the same noise, but only while a signal is on the line\n"
         "  --fclass-list LIST      classes offered by AT+FCLASS=? (subset of 0,1,1.0)\n"
         "  --modulations LIST      codes offered by AT+FTM=?/AT+FRM=? (default all 12)\n"
         "  --phone                 answer AT+CGMI and AT+CNMI like a phone's modem\n"
         "  --phone-two-ports       phone modem with a command pty and a data pty\n"
         "  --corrupt-frame WHO:N[,N...]  damage the Nth HDLC frame WHO (far|modem) sends\n"
         "                          (V.21 and ECM frames counted together from 1)\n"
         "  --lose-frame WHO:N[,N...]     silence the Nth HDLC frame WHO (far|modem) sends\n"
         "  --page-noise PAGE[:SNR]  noise over the image data of page PAGE (default 17 dB)\n"
         "  --loss PCT[:SEED]       drop 20 ms audio blocks at random, PCT percent\n"
         "  --link PATH             symlink PATH to the pty (repeat for the second modem)\n"
         "  --report FILE           append one JSON object per call to FILE\n"
         "  --line-delay MS         one-way delay of the line in ms (default 20)\n"
         "  --speed N               run the line N times faster than real time (1-16)\n"
         "  --once                  exit when every pty has been opened and closed again\n"
         "  --verbose               trace AT commands and the T.30 protocol on stderr\n"
         "  --class 1|2|2.0|auto    service class of the modem (auto offers 0,1,2,2.0)\n"
         "  --hangup-code HEX[:N]   Class 2/2.0: the far end hangs up with HEX before page N\n"
         "  --rtn-page N            Class 2/2.0: the far end answers page N with RTN once\n"
         "  --drop-during-page N    the far end drops the line during page N\n"
         "  --fcc-error             Class 2/2.0: AT+FCC= and AT+FDCC= answer ERROR\n"
         "  --vr0-only              Class 2/2.0: the far end offers normal resolution only\n"
         "  --no-xon                Class 2: CONNECT to AT+FDT comes without XON\n";
}

std::optional<Options> ParseOptions(int argc, char** argv, std::string& error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // Fetches the value of an option that takes one.
    auto value = [&](std::string_view& out) {
      if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string_view v;
    if (arg == "--far") {
      if (!value(v)) return std::nullopt;
      if (v == "terminal") {
        options.far = FarKind::kTerminal;
      } else if (v == "modem") {
        options.far = FarKind::kModem;
      } else {
        error = "--far takes terminal or modem";
        return std::nullopt;
      }
    } else if (arg == "--far-id") {
      if (!value(v)) return std::nullopt;
      if (v.size() > 20) {
        error = "--far-id holds at most 20 characters";
        return std::nullopt;
      }
      options.farId = v;
    } else if (arg == "--far-receive") {
      if (!value(v)) return std::nullopt;
      options.farReceiveDir = v;
    } else if (arg == "--call-in") {
      if (!value(v)) return std::nullopt;
      options.callIn = v;
    } else if (arg == "--call-in-repeat") {
      if (!value(v)) return std::nullopt;
      if (!ParseInt(v, options.callInRepeat) || options.callInRepeat < 1 ||
          options.callInRepeat > kMaxCallInRepeat) {
        error = "--call-in-repeat takes a whole number from 1 to 1000";
        return std::nullopt;
      }
    } else if (arg == "--far-refuse-fine") {
      options.farRefuseFine = true;
    } else if (arg == "--far-ecm") {
      options.farEcm = true;
    } else if (arg == "--far-coding") {
      if (!value(v)) return std::nullopt;
      if (v == "mh") {
        options.farCoding = FarCoding::kMh;
      } else if (v == "mr") {
        options.farCoding = FarCoding::kMr;
      } else if (v == "mmr") {
        options.farCoding = FarCoding::kMmr;
      } else {
        error = "--far-coding takes mh, mr or mmr";
        return std::nullopt;
      }
    } else if (arg == "--busy") {
      options.busy = true;
    } else if (arg == "--busy-calls") {
      if (!value(v)) return std::nullopt;
      if (!ParseInt(v, options.busyCalls) || options.busyCalls < 1 ||
          options.busyCalls > kMaxBusyCalls) {
        error = "--busy-calls takes a whole number from 1 to 1000";
        return std::nullopt;
      }
    } else if (arg == "--no-answer") {
      options.noAnswer = true;
    } else if (arg == "--no-dialtone") {
      options.noDialtone = true;
    } else if (arg == "--hangup-after") {
      if (!value(v)) return std::nullopt;
      if (!ParseDouble(v, options.hangupAfter) || options.hangupAfter <= 0 ||
          options.hangupAfter > kMaxHangupSeconds) {
        error = "--hangup-after takes seconds above 0";
        return std::nullopt;
      }
    } else if (arg == "--noise") {
      if (!value(v)) return std::nullopt;
      double db = 0;
      if (!ParseDouble(v, db) || db < 0 || db > kMaxNoiseDb) {
        error = "--noise takes decibels from 0 to 80";
        return std::nullopt;
      }
      options.noiseDb = db;
    } else if (arg == "--signal-noise") {
      if (!value(v)) return std::nullopt;
      double db = 0;
      if (!ParseDouble(v, db) || db < 0 || db > kMaxNoiseDb) {
        error = "--signal-noise takes decibels from 0 to 80";
        return std::nullopt;
      }
      options.noiseDb = db;
      options.noiseFollowsSignal = true;
    } else if (arg == "--fclass-list") {
      if (!value(v)) return std::nullopt;
      if (!ParseClasses(v, options.fclassList)) {
        error = "--fclass-list takes a comma list of 0, 1 and 1.0";
        return std::nullopt;
      }
    } else if (arg == "--modulations") {
      if (!value(v)) return std::nullopt;
      if (!ParseModulations(v, options.modulations)) {
        error = "--modulations takes a comma list of Class 1 modulation codes";
        return std::nullopt;
      }
    } else if (arg == "--phone") {
      options.phone = true;
    } else if (arg == "--phone-two-ports") {
      options.phone = true;
      options.phoneTwoPorts = true;
    } else if (arg == "--corrupt-frame" || arg == "--lose-frame") {
      if (!value(v)) return std::nullopt;
      auto& lists =
          arg == "--corrupt-frame" ? options.faults.corruptFrames : options.faults.loseFrames;
      if (!ParseFrameFault(v, lists)) {
        error = std::string(arg) + " takes far:N or modem:N, N a comma list of frame numbers";
        return std::nullopt;
      }
    } else if (arg == "--page-noise") {
      if (!value(v)) return std::nullopt;
      if (!ParsePageNoise(v, options.faults)) {
        error = "--page-noise takes a page number from 1 and an optional :SNR in dB";
        return std::nullopt;
      }
    } else if (arg == "--loss") {
      if (!value(v)) return std::nullopt;
      if (!ParseLoss(v, options.faults)) {
        error = "--loss takes a percentage above 0 up to 100 and an optional :SEED";
        return std::nullopt;
      }
    } else if (arg == "--link") {
      if (!value(v)) return std::nullopt;
      options.links.emplace_back(v);
    } else if (arg == "--report") {
      if (!value(v)) return std::nullopt;
      options.reportFile = v;
    } else if (arg == "--speed") {
      if (!value(v)) return std::nullopt;
      if (!ParseInt(v, options.speed) || options.speed < 1 || options.speed > kMaxSpeed) {
        error = "--speed takes a whole number from 1 to 16";
        return std::nullopt;
      }
    } else if (arg == "--line-delay") {
      if (!value(v)) return std::nullopt;
      if (!ParseInt(v, options.lineDelayMs) || options.lineDelayMs < 0 ||
          options.lineDelayMs > kMaxLineDelayMs) {
        error = "--line-delay takes milliseconds from 0 to 500";
        return std::nullopt;
      }
    } else if (arg == "--once") {
      options.once = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--class") {
      if (!value(v)) return std::nullopt;
      if (v != "1" && v != "2" && v != "2.0" && v != "auto") {
        error = "--class takes 1, 2, 2.0 or auto";
        return std::nullopt;
      }
      options.modemClass = v;
    } else if (arg == "--hangup-code") {
      if (!value(v)) return std::nullopt;
      const auto colon = v.find(':');
      const auto code = v.substr(0, colon);
      int number = 0;
      auto [ptr, ec] = std::from_chars(code.data(), code.data() + code.size(), number, 16);
      const bool hex = !code.empty() && code.size() <= 2 && ec == std::errc() &&
                       ptr == code.data() + code.size();
      if (!hex ||
          (colon != std::string_view::npos &&
           (!ParseInt(v.substr(colon + 1), options.hangupPage) || options.hangupPage < 1))) {
        error = "--hangup-code takes a hex code of one or two digits and an optional :PAGE";
        return std::nullopt;
      }
      options.hangupCode = number;
    } else if (arg == "--rtn-page" || arg == "--drop-during-page") {
      if (!value(v)) return std::nullopt;
      int& page = arg == "--rtn-page" ? options.rtnPage : options.dropDuringPage;
      if (!ParseInt(v, page) || page < 1) {
        error = std::string(arg) + " takes a page number from 1";
        return std::nullopt;
      }
    } else if (arg == "--fcc-error") {
      options.fccError = true;
    } else if (arg == "--vr0-only") {
      options.vr0Only = true;
    } else if (arg == "--no-xon") {
      options.noXon = true;
    } else {
      error = "unknown option " + std::string(arg);
      return std::nullopt;
    }
  }
  int noiseOptions = 0;
  for (int i = 1; i < argc; ++i)
    noiseOptions +=
        std::strcmp(argv[i], "--noise") == 0 || std::strcmp(argv[i], "--signal-noise") == 0;
  if (noiseOptions > 1) {
    error = "give --noise or --signal-noise once";
    return std::nullopt;
  }
  const int events = options.busy + (options.busyCalls > 0) + options.noAnswer + options.noDialtone;
  if (events > 1) {
    error = "choose one of --busy, --busy-calls, --no-answer and --no-dialtone";
    return std::nullopt;
  }
  if (!options.callIn.empty() && ::access(options.callIn.c_str(), R_OK) != 0) {
    error = "cannot read " + options.callIn;
    return std::nullopt;
  }
  if (options.callInRepeat > 1 && options.callIn.empty()) {
    error = "--call-in-repeat needs --call-in";
    return std::nullopt;
  }
  if (options.far == FarKind::kModem && !options.callIn.empty()) {
    error = "--call-in needs --far terminal";
    return std::nullopt;
  }
  const bool serviceClass = options.modemClass != "1";
  if (serviceClass && options.far == FarKind::kModem) {
    error = "--class " + options.modemClass + " needs --far terminal";
    return std::nullopt;
  }
  if (options.faults.any() && serviceClass) {
    error = "line faults need --class 1: a Class 2 or 2.0 modem carries no audio";
    return std::nullopt;
  }
  if (options.phoneTwoPorts && serviceClass) {
    error = "--phone-two-ports needs --class 1";
    return std::nullopt;
  }
  const std::size_t modems = options.far == FarKind::kModem ? 2 : 1;
  if (options.links.size() > modems) {
    error = "more --link options than modems";
    return std::nullopt;
  }
  return options;
}

}  // namespace vexo::linesim
