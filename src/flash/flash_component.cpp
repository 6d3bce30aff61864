#include "flash_component.h"

FlashComponent::FlashComponent(HINSTANCE module) : CBaseComponent(), m_hModule(module) {}

FlashComponent::~FlashComponent() = default;

// The engine's check sequence is not built yet: the state stays
// "undetermined" until it is.
unsigned FlashComponent::CheckInstallationState()
{
    return kStateUndetermined;
}
