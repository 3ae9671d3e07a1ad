// Measures the stored settings: ReadSettings and WriteSettings of the serial component (its
// 27 values) on the file store, for a store of normal size and for one of 1 MiB, and counts
// the file's reads, replacements and fsyncs per operation.
//
//   settings_bench [--folder DIR] [--runs N]
//
// The folder (default: a new one below $TMPDIR or /tmp) decides the file system, and so
// what an fsync costs: give one on the disk the user's settings live on.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FileRegistry.h"
#include "platform/StdMainLoop.h"
#include "serial/TDaVevureRez.h"

namespace {

constexpr const char* kRegkey = "Software\\Quenzhal";
constexpr const char* kSubKey = "DaVevureRezDefaultSettings";

struct Figures {
  double median_ms, max_ms;
};

template <class Operation>
Figures Time(int runs, Operation operation) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    operation(i);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.back()};
}

// Other programs' keys, as many as make the file about `bytes` long.
std::string Filler(std::size_t bytes) {
  std::string text = "; per-user settings of the MirbaZento flasher\n";
  for (int key = 0; text.size() < bytes; ++key)
    text += "[Software\\Other\\Program" + std::to_string(key) +
            "]\n\"Name\"=sz:\"a value of some length\"\n\"Count\"=sz:\"0123456789\"\n";
  return text;
}

bool Measure(const std::string& label, const std::string& path, int runs) {
  TObject owner;
  platform::StdMainLoop loop;
  TDaVevureRez com(&owner, loop);
  bool failed = false;
  com.OnProcessError = [&](TObject*, std::uint32_t place, std::uint32_t, const ByteString& msg,
                           std::uint8_t noise) {
    if (noise == 0) {
      std::fprintf(stderr, "report %04X: %s\n", place, msg.c_str());
      failed = true;
    }
  };
  platform::FileRegistry store(path);
  com.SetRegistry(&store);
  com.WriteSettings(kRegkey, kSubKey);  // the component's values in place
  const auto size = std::filesystem::file_size(path);

  const auto before_write = store.Count();
  // Every save changes a value, so that each one really replaces the file.
  const Figures write = Time(runs, [&](int i) {
    com.SetBaudRate(static_cast<std::uint32_t>(9600 + i));
    com.WriteSettings(kRegkey, kSubKey);
  });
  const auto after_write = store.Count();
  const Figures read = Time(runs, [&](int) { com.ReadSettings(kRegkey, kSubKey); });
  const auto after_read = store.Count();

  auto per = [runs](int a, int b) { return static_cast<double>(b - a) / runs; };
  std::printf("%-7s %9ju bytes  ReadSettings  median %7.3f ms  max %7.3f ms  reads %.1f\n",
              label.c_str(), static_cast<std::uintmax_t>(size), read.median_ms, read.max_ms,
              per(after_write.reads, after_read.reads));
  std::printf(
      "%-7s %9s        WriteSettings median %7.3f ms  max %7.3f ms  reads %.1f  "
      "replacements %.1f  fsyncs %.1f\n",
      "", "", write.median_ms, write.max_ms, per(before_write.reads, after_write.reads),
      per(before_write.replaces, after_write.replaces),
      per(before_write.fsyncs, after_write.fsyncs));
  return !failed;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  int runs = 20;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--folder" && i + 1 < argc) {
      folder = argv[++i];
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: settings_bench [--folder DIR] [--runs N]\n");
      return 2;
    }
  }
  namespace fs = std::filesystem;
  const bool own_folder = folder.empty();
  if (own_folder) {
    const char* tmp = std::getenv("TMPDIR");
    folder =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/settings-bench-" + std::to_string(getpid());
  }
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::owner_all);
  const std::string normal = folder + "/normal.reg";
  const std::string large = folder + "/large.reg";
  fs::remove(normal);
  std::ofstream(large, std::ios::binary) << Filler(platform::FileRegistry::kMaxFileSize - 2048);

  std::printf("settings_bench: %d runs each in %s\n", runs, folder.c_str());
  const bool ok = Measure("normal", normal, runs) && Measure("1 MiB", large, runs);
  if (own_folder) fs::remove_all(folder);
  return ok ? 0 : 1;
}
