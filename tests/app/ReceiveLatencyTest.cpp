// The receive-latency reading on a sysfs tree of the test's own.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/FirmwareImages.h"
#include "app/ReceiveLatency.h"

namespace fs = std::filesystem;

TEST(ReceiveLatency, SettingsAreLoggedAndCostlyOnesAdvised) {
  std::string pattern = (fs::temp_directory_path() / "latency-XXXXXX").string();
  const std::string sysfs = mkdtemp(pattern.data());
  auto put = [&](const std::string& file, const std::string& value) {
    fs::create_directories(fs::path(sysfs + file).parent_path());
    std::ofstream(sysfs + file) << value << "\n";
  };
  // 2048 full blocks of 64 bytes: two lone bytes a block against about 73 characters.
  TMZData image{};
  image.fill(0x55);
  const std::vector<ByteString> blocks = BuildBlockList(image);

  struct Row {
    const char* port;
    const char* file;  // below the port's folder in /sys/class/tty
    const char* value;
    std::uint32_t baud;
    const char* log;     // empty: no line
    const char* advice;  // part of the advice, or null: none
  };
  const Row rows[] = {
      // The 16550's FIFO holds a lone byte four character times: 8 of 73 per block.
      {"ttyS0", "rx_trig_bytes", "8", 9600, "Empfangslatenz ttyS0: rx_trig_bytes 8",
       "ttyS0 gibt einzelne Bytes verzögert weiter"},
      {"ttyS1", "rx_trig_bytes", "1", 9600, "Empfangslatenz ttyS1: rx_trig_bytes 1", nullptr},
      // An FTDI adapter's timer: 2 x 16 ms a block against 76 ms of line at 9600 Bd.
      {"ttyUSB0", "device/latency_timer", "16", 9600, "Empfangslatenz ttyUSB0: latency_timer 16 ms",
       "Der USB-Adapter ttyUSB0 hält einzelne Bytes bis zu 16 ms zurück"},
      // 2 x 2 ms against 76 ms: below a tenth.
      {"ttyUSB1", "device/latency_timer", "2", 9600, "Empfangslatenz ttyUSB1: latency_timer 2 ms",
       nullptr},
      // 1 ms cannot be lowered, however much it costs at 115200 Bd.
      {"ttyUSB2", "device/latency_timer", "1", 115200, "Empfangslatenz ttyUSB2: latency_timer 1 ms",
       nullptr},
      // A pseudo-terminal, say: nothing known, nothing said.
      {"pts3", "", "", 9600, "", nullptr},
  };
  for (const Row& row : rows) {
    if (*row.file) put("/class/tty/" + std::string(row.port) + "/" + row.file, row.value);
    const ReceiveLatency latency = ReadReceiveLatency(std::string("/dev/") + row.port, sysfs);
    const std::string log = LatencyLogLine(latency);
    if (*row.log) {
      EXPECT_EQ(log.rfind(row.log, 0), 0u) << row.port << ": " << log;
    } else {
      EXPECT_EQ(log, "") << row.port;
    }
    const std::string advice = LatencyAdvice(latency, row.baud, blocks);
    if (row.advice) {
      EXPECT_NE(advice.find(row.advice), std::string::npos) << row.port << ": " << advice;
      EXPECT_NE(advice.find(sysfs + "/class/tty/" + row.port), std::string::npos) << advice;
      EXPECT_EQ(advice.find('\n'), std::string::npos) << "one line";
    } else {
      EXPECT_EQ(advice, "") << row.port;
    }
  }
  fs::remove_all(sysfs);
}
