// The product component: the framework's base component with the install
// state, the current version and the installation answered by the flash
// engine.
#pragma once

#include "base_component.h"

#include <string>

class FlashComponent : public CBaseComponent {
public:
    explicit FlashComponent(HINSTANCE module);
    ~FlashComponent() override;

    // Flashes the marked controllers and appends one English result line to
    // the text already in message: 0 failure, 1 done, 2 done and a restart
    // needed, 3 discovery report written.
    unsigned Installation(unsigned first, ULONG_PTR second, wchar_t* message, int fourth,
                          const wchar_t* language) override;
    // Per marked controller "\r\n" model ": " version "\n"; 0 and the buffer
    // untouched when no controller is marked.
    int GetCurrentVersion(wchar_t* message, unsigned capacity) override;

    // The install-state code that replaces the base answer for property 5;
    // message, when given, receives the engine's reason ("" when it has
    // none), which then replaces the base message.
    unsigned CheckInstallationState(std::wstring* message = nullptr);
    // Why the last check could not decide (the state's message), or "".
    std::wstring StateReason() const;

    // The framework's check lines in the component logs, answered from the
    // engine's last check so that they agree with the state the host gets
    // (flash_checks.cpp).
    int IsHardwarePresent() override;
    int IsComponentInstalled() override;
    int GetInstalledVersionStatus() override;
    int CheckCustomPrerequisites(wchar_t* message, unsigned capacity, const wchar_t* language) override;

    // The host's result line and Installation result for a flash code.
    static const wchar_t* ResultLine(unsigned code);
    static unsigned ResultOf(unsigned code);
    // The install state for a check-sequence code.
    static unsigned InstallStateOf(unsigned code);

    HINSTANCE m_hModule;

private:
    // The package's name as the install record's key takes it (English).
    std::wstring PackageName();

    unsigned m_checkCode = 0;  // the engine's last check-sequence code; 0 before one ran
};
