#include "inventory_parse.h"

#include <climits>
#include <regex>
#include <unordered_map>

namespace {

std::string trimChar(const std::string& text, char c)
{
    const size_t first = text.find_first_not_of(c);
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(c);
    return text.substr(first, last - first + 1);
}

// Built once at load: the supported models by sub-device id.
const std::unordered_map<std::string, std::string> kModels = {
    {"0x2f6", "Veyra KB118m-p Mk3+ Boot Controller"},
    {"0x30e", "Veyra KB118m-d Mk3+ Boot Controller"},
    {"0x310", "Veyra KB118m-t Mk3+ Boot Controller"},
    {"0x30f", "Veyra KB118m-r Mk3+ Boot Controller"},
    {"0x379", "Veyra KB118m-u Boot Controller Kit"},
    {"0x380", "Veyra KB118m-d Mk4 Boot Controller"},
};

}  // namespace

std::string trim(const std::string& text)
{
    return trimChar(trimChar(text, ' '), '\t');
}

std::string fieldValue(const std::string& line)
{
    const size_t colon = line.rfind(':');
    std::string value = trim(colon == std::string::npos ? line : line.substr(colon + 1));
    // The tool ends its lines with CR LF; the split at LF leaves the CR.
    // Output with bare LF ends, or a last line without any end, keeps its
    // last character.
    if (!value.empty() && value.back() == '\r')
        value.pop_back();
    return value;
}

ControllerCount parseControllerCount(const std::string& output)
{
    ControllerCount result;
    // Only the first digit is part of the expression: the digits are then
    // read by hand, so a tool that prints a very long number cannot drive
    // the regular-expression engine into deep recursion. The first match
    // starts at the same place either way, and [0-9]+ would take every
    // digit that follows.
    static const std::regex countLine("Total number of NVMe Controllers: [0-9]",
                                      std::regex::ECMAScript | std::regex::icase);
    std::smatch match;
    if (!std::regex_search(output, match, countLine))
        return result;
    const size_t firstDigit = static_cast<size_t>(match.position(0) + match.length(0)) - 1;
    size_t end = firstDigit;
    while (end < output.size() && output[end] >= '0' && output[end] <= '9')
        ++end;
    // The last colon of the matched text, the one before the number; a
    // colon right after the digits is not part of the match.
    const size_t colon = output.rfind(':', firstDigit);
    result.text = trim(output.substr(colon + 1, end - colon - 1));

    long long value = 0;
    for (const char c : result.text) {
        if (c < '0' || c > '9')
            continue;  // the blank after the colon, already trimmed
        value = value * 10 + (c - '0');
        if (value > INT_MAX) {
            result.status = ControllerCount::kTooLarge;
            return result;
        }
    }
    result.status = ControllerCount::kFound;
    result.count = static_cast<int>(value);
    return result;
}

ControllerInfo parseControllerInfo(const std::string& output)
{
    ControllerInfo info;
    size_t start = 0;
    while (start <= output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(start, end - start);
        if (line.find("Firmware Version:") != std::string::npos)
            info.fwVersion = fieldValue(line);
        else if (line.find("SVID:") != std::string::npos)
            info.subVendorId = fieldValue(line);
        else if (line.find("SDID:") != std::string::npos)
            info.subDeviceId = fieldValue(line);
        if (end == output.size())
            break;
        start = end + 1;
    }
    return info;
}

const char* findModelName(const std::string& subDeviceId)
{
    const auto found = kModels.find(subDeviceId);
    return found == kModels.end() ? nullptr : found->second.c_str();
}

bool isUtf16Text(const std::string& output)
{
    if (output.size() >= 2 && static_cast<unsigned char>(output[0]) == 0xFF &&
        static_cast<unsigned char>(output[1]) == 0xFE)
        return true;
    // Without a mark: every second byte of the first few characters is zero
    // and every other one is printable or a line end. Eight characters are
    // more than any byte text of the tool could look like that by chance.
    const size_t kProbeChars = 8;
    if (output.size() < 2 * kProbeChars)
        return false;
    for (size_t i = 0; i < kProbeChars; ++i) {
        const unsigned char low = static_cast<unsigned char>(output[2 * i]);
        const unsigned char high = static_cast<unsigned char>(output[2 * i + 1]);
        if (high != 0 || !(low == '\r' || low == '\n' || low == '\t' || (low >= 0x20 && low < 0x7F)))
            return false;
    }
    return true;
}
