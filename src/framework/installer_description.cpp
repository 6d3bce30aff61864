// install.xml: which INF the package installs, how, with which section and
// service, and what to open with the shell afterwards. Only members are set
// here; nothing is installed and nothing is logged.
#include "base_component.h"

#include <cwchar>

namespace {

// The member arrays the shell step reads; the expansion never writes past them.
constexpr DWORD kShellExecuteChars = MAX_PATH;

struct InstallTypeWord {
    const wchar_t* word;
    int type;
};
const InstallTypeWord kInstallTypeWords[] = {
    {L"LEGACY", kInstallLegacy},
    {L"PNP", kInstallPnP},
    {L"VIRTUAL", kInstallVirtual},
};

// The INF element written for this system: Windows NT 4 and Windows 2000 to
// Server 2003 had their own INF dialects, so a package may carry one for them.
const wchar_t* PreferredInfElement()
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(&info))
        return L"inf_file";
    switch (info.dwMajorVersion) {
    case 4:
        return L"inf_file_nt4";
    case 5:
        return L"inf_file_nt5";
    default:
        return L"inf_file";
    }
}

// Expands value into target (kShellExecuteChars wide). A value that does not
// fit leaves target as it was: a cut path would open some other file.
void ExpandInto(const wchar_t* value, wchar_t* target)
{
    wchar_t expanded[kShellExecuteChars];
    const DWORD needed = ExpandEnvironmentStringsW(value, expanded, kShellExecuteChars);
    if (needed == 0 || needed > kShellExecuteChars)
        return;
    expanded[kShellExecuteChars - 1] = L'\0';
    wmemcpy(target, expanded, wcslen(expanded) + 1);
}

}  // namespace

unsigned CBaseComponent::ReadInstallerXml(const wchar_t* path)
{
    static_assert(sizeof m_szShellExecuteFile / sizeof(wchar_t) == kShellExecuteChars &&
                      sizeof m_szShellExecuteDir / sizeof(wchar_t) == kShellExecuteChars,
                  "the expansion is bounded by the member arrays");
    if (!path)
        return 4;

    CTzrXMLReader reader;
    const wchar_t* const preferred = PreferredInfElement();
    const unsigned code = reader.LoadFile(path);
    if (code != 0) {
        BASECOMP_LOG(CCmpLog2::kVerboseContinue, L"%ls; ", reader.Why());
        return code;
    }
    if (!reader.m_bLoaded)
        return 3;

    const CTzrXMLNode* const install = reader.FindChild(nullptr, L"tzr_install");
    if (!install)
        return 0;

    if (const CTzrXMLNode* const information = reader.FindChild(install, L"inf_information")) {
        const CTzrXMLNode* inf = reader.FindChild(information, preferred);
        if (!inf)
            inf = reader.FindChild(information, L"inf_file");
        if (inf) {
            if (const wchar_t* const filename = inf->GetAttribute(L"filename"))
                m_sInfFile = filename;
            if (const wchar_t* const type = inf->GetAttribute(L"type")) {
                for (const InstallTypeWord& w : kInstallTypeWords) {
                    if (TzrCompareNoCase(type, w.word) == 0) {
                        m_nInstallType = w.type;
                        break;
                    }
                }
            }
            if (const wchar_t* const section = inf->GetAttribute(L"section"))
                m_sInfSection = section;
            if (const wchar_t* const service = inf->GetAttribute(L"service_name"))
                m_sServiceName = service;
        }
    }

    const CTzrXMLNode* const shell = reader.FindChild(install, L"ShellExecute");
    if (const CTzrXMLNode* const info = shell ? reader.FindChild(shell, L"ShellExecute_Info") : nullptr) {
        if (const wchar_t* const file = info->GetAttribute(L"file"))
            ExpandInto(file, m_szShellExecuteFile);
        if (const wchar_t* const dir = info->GetAttribute(L"DefaultDir"))
            ExpandInto(dir, m_szShellExecuteDir);
    }
    return 0;
}
