#include "tools/simulator/Options.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "tools/simulator/Report.h"

namespace sim {

namespace {

// A whole number in decimal or, with 0x, hexadecimal, within [low, high].
bool ParseInteger(const std::string& text, long long low, long long high, long long& value) {
  int base = 10;
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits = digits.substr(2);
  }
  if (digits.empty()) return false;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value, base);
  return ec == std::errc() && ptr == end && value >= low && value <= high;
}

bool ParseNumber(const std::string& text, double low, double high, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(value) && value >= low && value <= high;
}

Micros FromMs(double ms) {
  return Micros{static_cast<Micros::rep>(std::llround(ms * 1000.0))};
}

std::string AnswerJson(const std::optional<std::uint8_t>& answer) {
  return answer ? std::to_string(*answer) : "null";
}

std::string MsJson(Micros t) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(t.count()) / 1000.0);
  return text;
}

std::string RateJson(double rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", rate);
  return text;
}

}  // namespace

std::string UsageText() {
  return R"(Usage: mirbazento-sim [OPTION]...
Plays the MirbaZento's flash loader on a pseudo-terminal, for trying the flasher without a
device. Prints the pseudo-terminal's path on the first line of standard output and the path
under which it is registered (or "-") on the second; then runs until it is stopped
(Ctrl+C, SIGTERM) or an option below ends it.

Device:
  --revision N         hardware revision in the identification (0..255, default 0)
  --version M.m        firmware version in the identification (default 3.00)
  --short-id           answer with the short identification 00 02
  --final-answer X     answer to the finish command: a byte such as 0x01 (flashed, the
                       default), 0x00 (left without writing), 0xF0 (error), or "none"
  --leave-answer X     answer to the leave command (default 0x00, or "none")
  --answer-delay MS    pause before the identification and the final answer (default 0)

Line:
  --baud N             take as long as a real line at N baud, 8N1, both ways (default:
                       as fast as the pseudo-terminal)
  --char-delay MS      longest gap within a received telegram (default 220)
  --ack-delay MS       longest wait for an acknowledgement (default 2000)
  --attempts N         transmissions of one telegram before giving up (default 6)
  --priority P         "high" (the default, as the device): when both sides send STX at
                       once it keeps its telegram and the flasher gives way; "low": it
                       gives way itself
  --attach PATH        use the existing terminal PATH (the host's end of a virtual
                       machine's serial line, say) instead of creating a pseudo-terminal;
                       the run ends when the other side closes that terminal

Faults (repeatable: the same seed and traffic give the same faults):
  --nak-first N        refuse the first N good telegrams with NAK instead of DLE
  --drop-rate R        lose this share of the bytes sent (0..1)
  --corrupt-rate R     change this share of the bytes sent (0..1)
  --seed N             seed for the two rates above (default 1)
  --ignore-stx N       leave the flasher's first N STX unanswered
  --mute               answer nothing at all
  --hangup-after K     close the pseudo-terminal once K blocks were acknowledged
  --hangup-after-answer  close the pseudo-terminal as soon as the final answer is
                       acknowledged, as a device that restarts when it leaves flash mode

Run:
  --once               exit after one complete flash dialogue, as soon as the flasher has
                       closed the port (at most --linger MS later, default 15000)
  --linger MS          see --once
  --time-limit S       exit with code 3 after S seconds
  --name NAME          register the port under NAME (default MirbaZento-Simulator)
  --no-register        do not register the port
  --report FILE        write a JSON report of the run to FILE at exit
  --flash-out FILE     write the 131072-byte flash (0xFF where nothing was written) at exit
  --verbose            log every telegram on standard error
  --help               show this text
  --version            (alone) show the program's version

Exit codes: 0 stopped by a signal, after --once or a hang-up; 1 failure (the
pseudo-terminal, the registration or an output file); 2 bad command line; 3 --time-limit.
)";
}

ParseResult ParseOptions(const std::vector<std::string>& args, Options& options,
                         std::string& error) {
  SimConfig& c = options.config;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // "--name value" or "--name=value".
    std::string name = arg;
    std::string value;
    bool inlineValue = false;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    // Each helper sets `error` and returns false when the value is missing or wrong.
    auto take = [&]() {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto bad = [&](const std::string& what) {
      error = "option " + name + ": '" + value + "' is not " + what;
      return false;
    };
    auto integer = [&](long long low, long long high, auto& out) {
      long long v = 0;
      if (!take()) return false;
      if (!ParseInteger(value, low, high, v)) {
        return bad("a whole number from " + std::to_string(low) + " to " + std::to_string(high));
      }
      out = static_cast<std::remove_reference_t<decltype(out)>>(v);
      return true;
    };
    auto rate = [&](double& out) {
      return take() && (ParseNumber(value, 0, 1, out) || bad("a share from 0 to 1"));
    };
    auto milliseconds = [&](Micros& out, double low) {
      double ms = 0;
      if (!take()) return false;
      if (!ParseNumber(value, low, 86'400'000, ms) || (low > 0 && ms <= 0)) {
        return bad(low > 0 ? "a time in milliseconds above 0" : "a time in milliseconds");
      }
      out = FromMs(ms);
      return true;
    };
    auto answer = [&](std::optional<std::uint8_t>& out) {
      long long v = 0;
      if (!take()) return false;
      if (value == "none") {
        out.reset();
      } else if (ParseInteger(value, 0, 255, v)) {
        out = static_cast<std::uint8_t>(v);
      } else {
        return bad("a byte (0..255) or none");
      }
      return true;
    };
    auto text = [&](std::string& out) {
      if (!take()) return false;
      out = value;
      return true;
    };
    auto version = [&]() {
      if (!take()) return false;
      const auto dot = value.find('.');
      long long major = 0, minor = 0;
      if (dot == std::string::npos || !ParseInteger(value.substr(0, dot), 0, 255, major) ||
          !ParseInteger(value.substr(dot + 1), 0, 255, minor)) {
        return bad("a version MAJOR.MINOR with both parts from 0 to 255");
      }
      c.device.major = static_cast<std::uint8_t>(major);
      c.device.minor = static_cast<std::uint8_t>(minor);
      return true;
    };
    auto seconds = [&]() {
      double s = 0;
      if (!take()) return false;
      if (!ParseNumber(value, 0.001, 1e7, s)) return bad("a time in seconds");
      options.timeLimit = FromMs(s * 1000.0);
      return true;
    };
    auto set = [&](bool& out) {
      if (inlineValue) {
        error = "option " + name + " takes no value";
        return false;
      }
      out = true;
      return true;
    };

    bool ok = false;
    if (name == "--help" || name == "-h") {
      return ParseResult::kHelp;
    } else if (name == "--revision") {
      ok = integer(0, 255, c.device.revision);
    } else if (name == "--version") {
      ok = version();
    } else if (name == "--short-id") {
      ok = set(c.device.shortId);
    } else if (name == "--final-answer") {
      ok = answer(c.device.finishAnswer);
    } else if (name == "--leave-answer") {
      ok = answer(c.device.leaveAnswer);
    } else if (name == "--answer-delay") {
      ok = milliseconds(c.device.answerDelay, 0);
    } else if (name == "--baud") {
      ok = integer(50, 4'000'000, c.line.baud);
    } else if (name == "--char-delay") {
      ok = milliseconds(c.link.charDelay, 0.001);
    } else if (name == "--ack-delay") {
      ok = milliseconds(c.link.ackDelay, 0.001);
    } else if (name == "--attempts") {
      ok = integer(1, 1000, c.link.attempts);
    } else if (name == "--priority") {
      ok = take() && (value == "high" || value == "low" || bad("high or low"));
      if (ok) c.link.highPriority = value == "high";
    } else if (name == "--attach") {
      ok = text(options.attach);
    } else if (name == "--nak-first") {
      ok = integer(0, 1'000'000'000, c.link.nakFirst);
    } else if (name == "--drop-rate") {
      ok = rate(c.line.dropRate);
    } else if (name == "--corrupt-rate") {
      ok = rate(c.line.corruptRate);
    } else if (name == "--seed") {
      ok = integer(0, 0x7FFFFFFFFFFFFFFF, c.line.seed);
    } else if (name == "--ignore-stx") {
      ok = integer(0, 1'000'000'000, c.link.ignoreStx);
    } else if (name == "--mute") {
      ok = set(c.mute);
    } else if (name == "--hangup-after") {
      ok = integer(1, 1'000'000'000, c.hangupAfter);
    } else if (name == "--hangup-after-answer") {
      ok = set(c.hangupAfterAnswer);
    } else if (name == "--once") {
      ok = set(options.once);
    } else if (name == "--linger") {
      ok = milliseconds(options.linger, 0);
    } else if (name == "--time-limit") {
      ok = seconds();
    } else if (name == "--name") {
      ok = text(options.name);
    } else if (name == "--no-register") {
      bool noRegister = false;
      ok = set(noRegister);
      options.registerPort = !noRegister;
    } else if (name == "--report") {
      ok = text(options.reportPath);
    } else if (name == "--flash-out") {
      ok = text(options.flashPath);
    } else if (name == "--verbose") {
      ok = set(options.verbose);
    } else {
      error = "unknown option '" + arg + "'";
    }
    if (!ok) return ParseResult::kError;
  }
  if (c.line.dropRate + c.line.corruptRate > 1) {
    error = "--drop-rate and --corrupt-rate add up to more than 1";
    return ParseResult::kError;
  }
  return ParseResult::kRun;
}

std::vector<std::pair<std::string, std::string>> Options::Settings() const {
  const SimConfig& c = config;
  char version[16];
  std::snprintf(version, sizeof version, "%u.%02u", unsigned{c.device.major},
                unsigned{c.device.minor});
  return {
      {"revision", std::to_string(c.device.revision)},
      {"version", JsonString(version)},
      {"short_id", c.device.shortId ? "true" : "false"},
      {"final_answer", AnswerJson(c.device.finishAnswer)},
      {"leave_answer", AnswerJson(c.device.leaveAnswer)},
      {"answer_delay_ms", MsJson(c.device.answerDelay)},
      {"baud", c.line.baud ? std::to_string(c.line.baud) : "null"},
      {"char_delay_ms", MsJson(c.link.charDelay)},
      {"ack_delay_ms", MsJson(c.link.ackDelay)},
      {"attempts", std::to_string(c.link.attempts)},
      {"priority", c.link.highPriority ? "\"high\"" : "\"low\""},
      {"nak_first", std::to_string(c.link.nakFirst)},
      {"drop_rate", RateJson(c.line.dropRate)},
      {"corrupt_rate", RateJson(c.line.corruptRate)},
      {"seed", std::to_string(c.line.seed)},
      {"ignore_stx", std::to_string(c.link.ignoreStx)},
      {"mute", c.mute ? "true" : "false"},
      {"hangup_after", c.hangupAfter ? std::to_string(c.hangupAfter) : "null"},
      {"hangup_after_answer", c.hangupAfterAnswer ? "true" : "false"},
  };
}

}  // namespace sim
