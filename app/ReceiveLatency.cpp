#include "app/ReceiveLatency.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

constexpr double kBitsPerChar = 10;  // 8N1, as the flasher's line runs
constexpr double kUartTimeoutChars = 4;
constexpr int kLoneBytesPerBlock = 2;  // the DLE to our STX and the final DLE

bool ReadNumber(const std::string& file, unsigned& value) {
  std::ifstream in(file);
  return static_cast<bool>(in >> value);
}

// The name below /dev that `port` stands for, following links such as /dev/serial/by-id.
std::string DeviceName(const std::string& port) {
  std::string path = port.find('/') == std::string::npos ? "/dev/" + port : port;
  std::error_code error;
  if (const auto real = std::filesystem::canonical(path, error); !error) path = real.string();
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

double ReceiveLatency::HoldMicros(std::uint32_t baud) const {
  switch (kind) {
    case Kind::UartTrigger:
      return value > 1 && baud > 0 ? kUartTimeoutChars * kBitsPerChar * 1e6 / baud : 0;
    case Kind::UsbLatencyTimer:
      return value * 1000.0;
    case Kind::None:
      break;
  }
  return 0;
}

ReceiveLatency ReadReceiveLatency(const std::string& port, const std::string& sysfs) {
  ReceiveLatency latency;
  latency.port = DeviceName(port);
  const std::string tty = sysfs + "/class/tty/" + latency.port;
  if (ReadNumber(tty + "/rx_trig_bytes", latency.value)) {
    latency.kind = ReceiveLatency::Kind::UartTrigger;
    latency.file = tty + "/rx_trig_bytes";
  } else if (ReadNumber(tty + "/device/latency_timer", latency.value)) {
    latency.kind = ReceiveLatency::Kind::UsbLatencyTimer;
    latency.file = tty + "/device/latency_timer";
  }
  return latency;
}

std::string LatencyLogLine(const ReceiveLatency& latency) {
  switch (latency.kind) {
    case ReceiveLatency::Kind::UartTrigger:
      return "Empfangslatenz " + latency.port + ": rx_trig_bytes " + std::to_string(latency.value) +
             " (" + latency.file + ")";
    case ReceiveLatency::Kind::UsbLatencyTimer:
      return "Empfangslatenz " + latency.port + ": latency_timer " + std::to_string(latency.value) +
             " ms (" + latency.file + ")";
    case ReceiveLatency::Kind::None:
      break;
  }
  return "";
}

std::string LatencyAdvice(const ReceiveLatency& latency, std::uint32_t baud,
                          const std::vector<ByteString>& blocks) {
  if (!latency.Lowerable() || baud == 0 || blocks.empty()) return "";
  double chars = 0;
  for (const ByteString& block : blocks) {
    chars += 6;  // STX, DLE, DLE ETX BCC, final DLE
    for (const char c : block) chars += c == '\x10' ? 2 : 1;
  }
  const double lineMicros = chars * kBitsPerChar * 1e6 / baud;
  const double waitMicros =
      static_cast<double>(blocks.size()) * kLoneBytesPerBlock * latency.HoldMicros(baud);
  if (waitMicros * 10 <= lineMicros) return "";
  char share[16];
  std::snprintf(share, sizeof share, "%.0f", 100 * waitMicros / lineMicros);
  const std::string cost = " (kostet etwa " + std::string(share) + " % der Übertragungszeit)";
  if (latency.kind == ReceiveLatency::Kind::UartTrigger) {
    return "Hinweis: " + latency.port + " gibt einzelne Bytes verzögert weiter" + cost +
           "; schneller mit \"echo 1 > " + latency.file +
           "\" als root oder der udev-Regel aus der README.";
  }
  return "Hinweis: Der USB-Adapter " + latency.port + " hält einzelne Bytes bis zu " +
         std::to_string(latency.value) + " ms zurück" + cost + "; schneller mit \"echo 1 > " +
         latency.file + "\" als root oder der udev-Regel aus der README.";
}
