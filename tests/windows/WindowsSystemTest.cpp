// The small system services on Windows: the executable's own name for developer mode, the
// device namespace of port names, a folder given as the developer file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "app/TZORurerizudor.h"
#include "platform/System.h"

TEST(WindowsSystem, DeveloperModeByTheModulesOwnName) {
  for (const char* path :
       {"C:\\Programme\\Quenzhal\\VERIDOVUDIDA_DEVELOP.EXE", "D:VERidOvudida_Develop.exe",
        "\\\\server\\share\\veridovudida_develop.exe", "C:/Quenzhal/VERidOvudida_Develop.exe"}) {
    EXPECT_TRUE(IsDeveloperExecutable(path)) << path;
  }
  for (const char* path : {"C:\\VERidOvudida_Develop.exe\\VERidOvudida.exe",
                           "C:\\Quenzhal\\VERidOvudida_Develop1.exe"}) {
    EXPECT_FALSE(IsDeveloperExecutable(path)) << path;
  }
  // The module's own path, whatever the command line said.
  const std::string self = platform::ExecutablePath("something-else");
  EXPECT_EQ(platform::FileNamePart(self), "windows_tests.exe") << self;
}

TEST(WindowsSystem, PortNamesAreInTheDeviceNamespaceCutTo75Characters) {
  EXPECT_EQ(platform::DevicePath("COM3"), "\\\\.\\COM3");
  EXPECT_EQ(platform::DevicePath(std::string(80, 'C')), "\\\\.\\" + std::string(75, 'C'));
}

TEST(WindowsSystem, AFolderDoesNotOpenAndSaysItIsOne) {
  errno = 0;
  std::FILE* file = platform::OpenForReading(std::filesystem::temp_directory_path().string());
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(errno, EISDIR);
  if (file) std::fclose(file);
}
