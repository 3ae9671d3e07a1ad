// The advice below an opening that failed, by the Windows error of CreateFileW.
// clang-format off
#include "app/ErrorAdvice.h"
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

TEST(WindowsAdvice, OpeningErrorsOfWindows) {
  const AdviceSources sources{[] { return std::vector<std::string>{"COM1", "COM3"}; }};
  struct Row {
    DWORD error;
    std::string advice;
  };
  const Row rows[] = {
      {ERROR_ACCESS_DENIED,
       "Hinweis: COM7 ist von einem anderen Programm belegt (ein Terminalprogramm, ein "
       "anderer Flasher?): das Programm beenden und erneut flashen."},
      {ERROR_FILE_NOT_FOUND, "Hinweis: Den Port COM7 gibt es nicht. Vorhandene Ports: COM1, COM3."},
      {ERROR_GEN_FAILURE,
       "Hinweis: COM7 antwortet nicht: den USB-Adapter abziehen, wieder anstecken und "
       "erneut flashen."},
      {ERROR_INVALID_PARAMETER, ""},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ErrorAdvice(RunResult::ErrorReport, 0x1138, row.error, "COM7", sources), row.advice)
        << row.error;
}
