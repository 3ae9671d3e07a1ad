// Telegrams typed and shown in hexadecimal for the link bench.
#pragma once

#include <optional>
#include <string_view>

#include "util/ByteString.h"

// Pairs of hexadecimal digits, either case; blanks, commas, colons and semicolons may stand
// between the bytes ("02 10 ff", "0210FF", "02,10,FF;"). Nothing for any other text or a
// digit without its partner.
std::optional<ByteString> ParseHexBytes(std::string_view text);

// "02 10 FF"
ByteString FormatHexBytes(const ByteString& bytes);
