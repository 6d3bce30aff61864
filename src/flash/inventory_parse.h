// Reading the vendor tool's answers: the controller count and one
// controller's information. Pure: text in, result out, no Windows, no
// logging, so the rules can be tested (and fuzzed) on their own.
#pragma once

#include <string>

// The text without leading and trailing blanks, then without leading and
// trailing tabs (blanks first, tabs second).
std::string trim(const std::string& text);

// The value of an information line: what follows its last colon, trimmed,
// without the carriage return of a CR LF line end when there is one.
std::string fieldValue(const std::string& line);

struct ControllerCount {
    enum Status { kAbsent, kFound, kTooLarge };
    Status status = kAbsent;
    int count = 0;             // 0 unless status is kFound
    std::string text;          // the digits as the tool printed them
};

// Finds the first "Total number of NVMe Controllers: <digits>" in any letter
// case. A number that does not fit a signed 32-bit integer is reported as
// kTooLarge with count 0, never thrown.
ControllerCount parseControllerCount(const std::string& output);

struct ControllerInfo {
    std::string fwVersion;
    std::string subVendorId;
    std::string subDeviceId;
};

// Splits the output at "\n" (a last piece without one counts as a line) and
// takes the value of each line holding "Firmware Version:", else "SVID:",
// else "SDID:"; a later line overwrites an earlier value.
ControllerInfo parseControllerInfo(const std::string& output);

// The model name of a supported sub-device id (exact, case-sensitive), or
// nullptr when the id is not in the table.
const char* findModelName(const std::string& subDeviceId);

// Whether the tool answered in UTF-16 (little-endian): a byte-order mark, or
// the unmistakable pattern of one, ASCII text with a zero after every byte.
// The first 16 bytes decide.
bool isUtf16Text(const std::string& output);
