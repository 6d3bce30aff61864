// libFuzzer harness for reading the vendor tool's answers: the controller
// count, one controller's information and the model table. The input is the
// tool's whole output. Any answer is fine as long as it is consistent with
// the text it came from and nothing crashes or overruns.
#include "inventory_parse.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string output(reinterpret_cast<const char*>(data), size);

    const ControllerCount count = parseControllerCount(output);
    if (count.status != ControllerCount::kFound && count.count != 0) std::abort();
    if (count.status == ControllerCount::kFound) {
        // The count is exactly the value of the digits the tool printed.
        long long value = 0;
        for (char c : count.text) {
            if (c < '0' || c > '9') std::abort();
            value = value * 10 + (c - '0');
            if (value > 0x7FFFFFFFLL) std::abort();
        }
        if (count.text.empty() || value != count.count) std::abort();
    }

    const ControllerInfo info = parseControllerInfo(output);
    for (const std::string* value : {&info.fwVersion, &info.subVendorId, &info.subDeviceId}) {
        // A value is part of one line of the output.
        if (value->find('\n') != std::string::npos || value->size() > output.size()) std::abort();
        if (const char* model = findModelName(*value)) {
            if (*model == '\0') std::abort();
        }
    }
    if (fieldValue(output).size() > output.size() || trim(output).size() > output.size()) std::abort();
    return 0;
}
