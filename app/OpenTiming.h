#pragma once

#include <string>

// With KAVREL_OPEN_TIMING set in the environment, the program measures how long an opened picture
// takes from Open's OK to its first paint and writes it to standard error, once per opened file:
//   kavrel: FILE: read R ms, converted for the screen C ms, first paint P ms after Open's OK
// Without the variable every mark is a no-op.
namespace OpenTiming {
void Accepted(const std::string& file); // Open's OK
void Read(); // the picture is read from the file
void Converted(); // the picture is converted for the screen
void Painted(); // a picture was painted
} // namespace OpenTiming
