#include "controller_outcomes.h"

#include <windows.h>

const char kOutcomeWritten[] = "written";
const char kOutcomeFailed[] = "failed";
const char kOutcomeNotWritten[] = "not written";
const char kOutcomeWaiting[] = "waiting for restart";

namespace {

std::vector<ControllerOutcome> g_outcomes;

std::string Field(const std::string& text)
{
    std::string field = text;
    for (char& c : field)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    return field;
}

}  // namespace

void resetControllerOutcomes(const std::vector<DeviceObj>& devices)
{
    g_outcomes.clear();
    for (const DeviceObj& device : devices) {
        ControllerOutcome o;
        o.id = device.getControllerId();
        o.model = device.getProductName();
        // Firmware written before and waiting for its restart: the
        // controller runs the one before, and the one after is the written.
        o.before = device.getRunningVersion();
        o.after = device.getFwVersion();
        o.outcome = device.isAwaitingRestart() ? kOutcomeWaiting : kOutcomeNotWritten;
        g_outcomes.push_back(o);
    }
}

void noteFlashOutcome(const DeviceObj& device, const char* outcome, const std::string& imageVersion,
                      const std::string& output)
{
    for (ControllerOutcome& o : g_outcomes) {
        if (o.id != device.getControllerId())
            continue;
        o.outcome = outcome;
        // A written controller holds the image's firmware (active after the
        // restart); any other keeps what it had.
        o.after = o.outcome == kOutcomeWritten ? imageVersion : o.before;
        o.toolSaid.clear();
        if (o.outcome == kOutcomeFailed) {
            for (const std::string& line : lastLines(output, 5, 200))
                o.toolSaid += (o.toolSaid.empty() ? "" : " | ") + line;
        } else if (o.outcome == kOutcomeNotWritten) {
            o.toolSaid = output;
        }
        return;
    }
}

const std::vector<ControllerOutcome>& controllerOutcomes()
{
    return g_outcomes;
}

std::vector<std::string> lastLines(const std::string& output, size_t lines, size_t lineBytes)
{
    std::vector<std::string> found;
    size_t end = output.size();
    while (end > 0 && found.size() < lines) {
        while (end > 0 && (output[end - 1] == '\n' || output[end - 1] == '\r'))
            --end;
        if (end == 0)
            break;
        size_t start = output.find_last_of('\n', end - 1);
        start = start == std::string::npos ? 0 : start + 1;
        found.insert(found.begin(), output.substr(start, std::min(end - start, lineBytes)));
        end = start;
    }
    return found;
}

std::wstring controllerOutcomeText()
{
    std::string text;
    for (const ControllerOutcome& o : g_outcomes)
        text += std::to_string(o.id) + "\t" + Field(o.model) + "\t" + Field(o.before) + "\t" + Field(o.after) + "\t" +
                o.outcome + "\t" + Field(o.toolSaid) + "\r\n";
    // The engine's texts are in the ANSI code page.
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}
