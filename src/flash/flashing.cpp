// Flashing and the discovery report. Neither is built yet: each says so in
// the log and answers "not done", so no caller mistakes them for success.
#include "flash_engine.h"

#include "process_log.h"

unsigned flashFirmware()
{
    LogPrint(kLogVerbose, "flashFirmware: firmware flashing is not available in this build\n");
    return kFlashError;
}

bool writeDiscoveryFile()
{
    LogPrint(kLogVerbose, "writeDiscoveryFile: discovery report not available in this build, nothing written to %s\n",
             discoveryFile);
    return false;
}
