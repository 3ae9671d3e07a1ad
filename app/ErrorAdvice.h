// Advice for the errors that end a run: one German line that the window adds below the
// text of its box and the command line writes to standard error, for the causes a user
// meets (no permission for the port, no such port, a port another program holds, a device
// that does not answer; on Windows as far as the system's error tells them). The texts of
// the boxes themselves stay as they are.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/TZORurerizudor.h"
#include "platform/UucpLock.h"

// Where the advice looks for what it names; tests give their own.
struct AdviceSources {
  // The machine's serial ports; GetComPortList() when not given.
  std::function<std::vector<std::string>()> ports;
  std::string lock_dir = platform::kUucpLockDir;
  std::string proc = "/proc";
};

// The advice for a run that ended with `result`, the error report (`place`, `code`) having
// ended it on the port named `port`; empty when there is none to give.
std::string ErrorAdvice(RunResult result, std::uint32_t place, std::uint32_t code,
                        const std::string& port, const AdviceSources& sources = {});

// The same for the form's last run.
std::string ErrorAdvice(TZORurerizudor& form, const AdviceSources& sources = {});

// The advice for an opening of the port named `port` (the device `device`) that failed with
// the system's error `code`, per platform (ErrorAdviceLinux.cpp names the device,
// ErrorAdviceWin.cpp the port); empty when there is none.
std::string OpeningAdvice(std::uint32_t code, const std::string& port, const std::string& device,
                          const AdviceSources& sources);
// The ports that exist, as a sentence for the advice.
std::string PortsThatExist(const AdviceSources& sources);
