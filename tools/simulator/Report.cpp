#include "tools/simulator/Report.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace sim {

namespace {

std::string Ms(Micros t) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(t.count()) / 1000.0);
  return text;
}

std::string Hex(const Bytes& data) {
  return JsonString(HexBytes(data));
}

std::string Address(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "\"0x%06X\"", static_cast<unsigned>(address));
  return text;
}

std::string SummaryJson(const Summary& s) {
  return "{\"count\": " + std::to_string(s.count) + ", \"min\": " + Ms(s.min) +
         ", \"median\": " + Ms(s.median) + ", \"p99\": " + Ms(s.p99) + ", \"max\": " + Ms(s.max) +
         ", \"total\": " + Ms(s.total) + "}";
}

const char* Bool(bool b) {
  return b ? "true" : "false";
}

}  // namespace

std::string HexBytes(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

Summary Summarize(std::vector<Micros> values) {
  Summary s;
  s.count = values.size();
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  auto rank = [&](std::size_t percent) {
    const std::size_t r = (percent * values.size() + 99) / 100;  // ceil, at least 1
    return values[std::max<std::size_t>(r, 1) - 1];
  };
  s.min = values.front();
  s.median = rank(50);
  s.p99 = rank(99);
  s.max = values.back();
  for (const Micros v : values) s.total += v;
  return s;
}

std::string ReportJson(const Simulator& sim, const RunInfo& info) {
  const FlashLoader& device = sim.Device();
  std::string j = "{\n";
  auto field = [&j](const std::string& name, const std::string& value, bool last = false) {
    j += "  " + JsonString(name) + ": " + value + (last ? "\n" : ",\n");
  };

  std::string settings = "{";
  for (std::size_t i = 0; i < info.settings.size(); ++i) {
    if (i) settings += ", ";
    settings += JsonString(info.settings[i].first) + ": " + info.settings[i].second;
  }
  field("settings", settings + "}");
  field("end", JsonString(info.end));
  field("host_opens", std::to_string(info.hostOpens));
  field("identification", Hex(device.Identification()));
  field("dialogues", std::to_string(device.Dialogues()));
  field("dialogue_complete", Bool(device.DialogueComplete()));
  field("ending", device.Ending().empty() ? "null" : JsonString(device.Ending()));
  field("in_flash_mode", Bool(device.InFlashMode()));

  const bool traffic = sim.FirstByte() != kNever;
  field("first_byte_ms", traffic ? Ms(sim.FirstByte()) : "null");
  field("last_byte_ms", traffic ? Ms(sim.LastByte()) : "null");
  field("exchange_ms", traffic ? Ms(sim.LastByte() - sim.FirstByte()) : "0.000");
  field("bytes_received", std::to_string(sim.GetLine().BytesReceived()));
  field("bytes_sent", std::to_string(sim.GetLine().BytesSent()));

  std::string telegrams = "[";
  for (const TelegramRecord& t : sim.Telegrams()) {
    telegrams += telegrams.size() > 1 ? ",\n    " : "\n    ";
    telegrams += std::string("{\"from\": ") + (t.fromHost ? "\"host\"" : "\"device\"") +
                 ", \"start_ms\": " + Ms(t.start) + ", \"end_ms\": " + Ms(t.end) +
                 ", \"status\": " + JsonString(t.status);
    telegrams += t.fromHost ? std::string(", \"repetition\": ") + Bool(t.repetition)
                            : ", \"attempt\": " + std::to_string(t.attempt);
    telegrams += ", \"data\": " + Hex(t.data) + "}";
  }
  field("telegrams", telegrams + (telegrams.size() > 1 ? "\n  ]" : "]"));

  std::set<std::uint32_t> distinct;
  std::string blocks = "[";
  for (const BlockRecord& b : device.Blocks()) {
    distinct.insert(b.address);
    blocks += blocks.size() > 1 ? ",\n    " : "\n    ";
    blocks += "{\"address\": " + Address(b.address) + ", \"t_ms\": " + Ms(b.at) +
              ", \"duplicate\": " + Bool(b.duplicate) + ", \"changed\": " + Bool(b.changed) + "}";
  }
  field("blocks_received", std::to_string(device.Blocks().size()));
  field("blocks_distinct", std::to_string(distinct.size()));
  field("duplicates", std::to_string(device.Duplicates()));
  field("blocks", blocks + (blocks.size() > 1 ? "\n  ]" : "]"));

  auto rejected = [&](bool blockLike) {
    std::string list = "[";
    for (const RejectedTelegram& r : device.Rejected()) {
      if (r.blockLike != blockLike) continue;
      list += list.size() > 1 ? ",\n    " : "\n    ";
      list += "{\"t_ms\": " + Ms(r.at) + ", \"reason\": " + JsonString(r.reason) +
              ", \"data\": " + Hex(r.data) + "}";
    }
    return list + (list.size() > 1 ? "\n  ]" : "]");
  };
  field("invalid_blocks", rejected(true));
  field("unknown_telegrams", rejected(false));

  field("naks_sent", std::to_string(sim.Count(LinkEvent::kNakSent)));
  field("naks_received", std::to_string(sim.Count(LinkEvent::kNakReceived)));
  field("host_repetitions", std::to_string(sim.HostRepetitions()));
  for (const LinkEvent e :
       {LinkEvent::kRepetition, LinkEvent::kGivenUp, LinkEvent::kConflict, LinkEvent::kWrongAnswer,
        LinkEvent::kStxIgnored, LinkEvent::kStrayByte}) {
    field(LinkEventName(e), std::to_string(sim.Count(e)));
  }
  field("timeouts", "{\"char\": " + std::to_string(sim.Count(LinkEvent::kCharTimeout)) +
                        ", \"grant\": " + std::to_string(sim.Count(LinkEvent::kGrantTimeout)) +
                        ", \"ack\": " + std::to_string(sim.Count(LinkEvent::kAckTimeout)) + "}");

  std::string faults = "[";
  for (const LineFault& f : sim.GetLine().Faults()) {
    faults += faults.size() > 1 ? ",\n    " : "\n    ";
    faults += "{\"t_ms\": " + Ms(f.at) + ", \"index\": " + std::to_string(f.index) +
              ", \"original\": " + Hex(Bytes(1, static_cast<char>(f.original))) + ", \"sent\": " +
              (f.replacement < 0 ? "null" : Hex(Bytes(1, static_cast<char>(f.replacement)))) + "}";
  }
  field("line_faults", faults + (faults.size() > 1 ? "\n  ]" : "]"));

  field(
      "turnaround_ms",
      "{\"host\": " + SummaryJson(Summarize(sim.Measurements(Measure::kHostAnswer))) +
          ",\n    \"device\": " + SummaryJson(Summarize(sim.Measurements(Measure::kDeviceAnswer))) +
          ",\n    \"host_pause\": " +
          SummaryJson(Summarize(sim.Measurements(Measure::kHostPause))) + "}",
      true);
  return j + "}\n";
}

}  // namespace sim
