// The product component: the framework's base component with the install
// state, the current version and the installation answered by the flash
// engine.
#pragma once

#include "base_component.h"

class FlashComponent : public CBaseComponent {
public:
    explicit FlashComponent(HINSTANCE module);
    ~FlashComponent() override;

    // The install-state code that replaces the base answer for property 5.
    unsigned CheckInstallationState();

    HINSTANCE m_hModule;
};
