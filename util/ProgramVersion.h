// What every program prints for --version: its name and the project's version.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The project's version, e.g. "1.0.0".
const char* ProjectVersion();

// "NAME VERSION\n", then each of `details` on a line of its own.
std::string ProgramVersionText(std::string_view program,
                               const std::vector<std::string>& details = {});

// True when the program was started with the single argument --version. Checked first
// thing in main(), so that it answers without a display, a port or a valid command line.
bool AsksForVersion(int argc, char** argv);
