// --version of the flasher's programs: the project's version and those of the built-in
// images.
#pragma once

#include <string>
#include <string_view>

std::string FlasherVersionText(std::string_view program);
