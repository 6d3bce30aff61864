// The framework's localized message tables. Each table holds one text per
// language, indexed by CBaseComponent::GetLanguageIndex; the install state
// reads its tables by that index, the installation through
// CBaseComponent::GetLocalizedMessage (English or Japanese only).
#pragma once

enum TzrLanguage : int {
    kLangEnglish = 0,
    kLangFrench = 1,
    kLangItalian = 2,
    kLangGerman = 3,
    kLangSpanish = 4,
    kLangJapanese = 5,
    kLanguageCount = 6,
};

using TzrMessageTable = const wchar_t* const[kLanguageCount];

// Installation messages.
extern TzrMessageTable g_aszNoSupportedDevices;
extern TzrMessageTable g_aszInstallError;
extern TzrMessageTable g_aszNoDevicesToInstall;
extern TzrMessageTable g_aszInstallFailedOnDevice;
extern TzrMessageTable g_aszShellExecuteError;
extern TzrMessageTable g_aszUnknownInfType;
// Install-state messages (each ends in CR LF).
extern TzrMessageTable g_aszOsNotSupported;
extern TzrMessageTable g_aszNotEnoughDiskSpace;
extern TzrMessageTable g_aszMarkedForRemoval;
