// The framework's install-state checks answered from the flash engine's last
// check sequence, so that the component logs' check lines say what the host
// hears: a package whose tool is missing is "Unknown" hardware and cannot be
// installed, not "hardware present, not installed".
#include "flash_component.h"

#include "flash_engine.h"
#include "text_util.h"

namespace {

// -1 is the framework's "Unknown" in its check lines.
const int kUnknown = -1;

bool Decided(unsigned code)
{
    return code == kFlashUpgrade || code == kFlashRewrite || code == kFlashDowngrade || code == kFlashNoDevice ||
           code == kFlashNoCommandLine;
}

bool NothingFound(unsigned code)
{
    return code == kFlashNoDevice || code == kFlashNoCommandLine;
}

}  // namespace

int FlashComponent::IsHardwarePresent()
{
    if (!Decided(m_checkCode))
        return kUnknown;
    return NothingFound(m_checkCode) ? 0 : 1;
}

int FlashComponent::IsComponentInstalled()
{
    if (!Decided(m_checkCode))
        return kUnknown;
    // Controllers with firmware count as an installed component of some version.
    return NothingFound(m_checkCode) ? 0 : 1;
}

int FlashComponent::GetInstalledVersionStatus()
{
    switch (m_checkCode) {
    case kFlashUpgrade: return 0;    // older
    case kFlashRewrite: return 1;    // same
    case kFlashDowngrade: return 2;  // newer
    default: return 3;               // unknown
    }
}

int FlashComponent::CheckCustomPrerequisites(wchar_t* message, unsigned capacity, const wchar_t*)
{
    if (Decided(m_checkCode))
        return 1;
    BoundedCopy(message, capacity, StateReason().c_str());
    return 0;
}
