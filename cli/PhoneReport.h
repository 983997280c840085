#pragma once
// The report's part of the dump as the phone reads it (PhoneCommands.cpp).

#include <string>

#include "evidence/Report.h"

namespace orvella::cli {

// Reads the image's table in the phone's layout and its bad-block layer into the report:
// the table's rows with what each holds and, for STL partitions, whether the volume
// rebuilds; the remaps, also as the map's replaced and replacement blocks. Adds nothing
// when block 1 holds no table and the dump has no layer.
void AddPhoneView(const std::string& image, ReportInput& input);

}  // namespace orvella::cli
