// What this run did to each controller, for the host: the inventory's
// controllers start as "not written", a flash turns each into "written" or
// "failed" (with the tool's last words). The host reads them as one text
// property after its other questions, so a deployment engine sees which
// controller of a partial write holds which firmware.
#pragma once

#include "device_obj.h"

#include <string>
#include <vector>

struct ControllerOutcome {
    int id = 0;
    std::string model;
    std::string before;     // firmware the inventory found
    std::string after;      // firmware the controller holds now (written: the image's version)
    std::string outcome;    // kOutcomeWritten, kOutcomeFailed, kOutcomeNotWritten, kOutcomeWaiting
    std::string toolSaid;   // the tool's last lines on a failure, or why nothing was written
};

extern const char kOutcomeWritten[];
extern const char kOutcomeFailed[];
extern const char kOutcomeNotWritten[];
extern const char kOutcomeWaiting[];

// Property 9 of the flash plug-in: the text of the outcomes below.
const unsigned kControllerOutcomesProperty = 9;

// Every controller of the collection as found: not written, firmware as it is.
void resetControllerOutcomes(const std::vector<DeviceObj>& devices);
// One controller's flash came to outcome; output is the tool's answer (its
// last lines are kept on a failure) or, for "not written", the reason.
void noteFlashOutcome(const DeviceObj& device, const char* outcome, const std::string& imageVersion,
                      const std::string& output);
const std::vector<ControllerOutcome>& controllerOutcomes();
// The tool's last lines of output (at most lines of at most lineBytes each),
// oldest first.
std::vector<std::string> lastLines(const std::string& output, size_t lines, size_t lineBytes);
// One line per controller, fields separated by tabs, CR LF after each:
//   id, model, firmware before, firmware after, outcome, tool said
// (tabs and line ends inside a field become blanks, the tool's lines are
// joined by " | ").
std::wstring controllerOutcomeText();
