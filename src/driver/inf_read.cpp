// CInf: opening the INF and reading it: [Version], the section lists, the
// services its AddService lines name, and SetupAPI's section lookup.
#include "inf.h"

#include "driver_failure.h"
#include "inf_lines.h"
#include "inf_sections.h"

#include <cstdlib>
#include <cwchar>

CInf::CInf(const wchar_t* fileName)
{
    wchar_t full[kDirChars];
    if (fileName && _wfullpath(full, fileName, kDirChars)) {
        m_sInfPath = full;
        const size_t cut = m_sInfPath.find_last_of(L"\\/");
        if (cut != std::wstring::npos)
            m_sSourceRoot = m_sInfPath.substr(0, cut + 1).c_str();
        m_hInf.reset(driverapi::SetupOpenInfFileW(full, nullptr, INF_STYLE_WIN4, nullptr));
        if (!m_hInf)
            driverfail::Call(std::wstring(L"SetupOpenInfFileW(") + full + L")");
    } else if (fileName) {
        driverfail::Refused(std::wstring(L"INF path refused: the full path of ") + fileName + L" does not fit " +
                            std::to_wstring(kDirChars - 1) + L" characters");
    }
    ReadVersion();  // CInf's own: no override is reachable from a constructor
}

CInf::~CInf() = default;

int CInf::IsOpen()
{
    return m_hInf ? 1 : 0;
}

const wchar_t* CInf::GetSignature()
{
    return m_sSignature.empty() ? nullptr : m_sSignature.c_str();
}

const wchar_t* CInf::GetClass()
{
    return m_sClass.empty() ? nullptr : m_sClass.c_str();
}

const wchar_t* CInf::GetClassGuid()
{
    return m_sClassGuid.empty() ? nullptr : m_sClassGuid.c_str();
}

int CInf::ReadVersion()
{
    if (!IsOpen())
        return 0;
    wchar_t text[kLineTextChars];
    auto read = [&](const wchar_t* key, CStr& into) {
        if (!driverapi::SetupGetLineTextW(nullptr, m_hInf.get(), L"Version", key, text, kLineTextChars, nullptr))
            return 0;
        into = text;
        return 1;
    };
    const int result = read(L"Signature", m_sSignature) && read(L"Class", m_sClass) && read(L"ClassGUID", m_sClassGuid);
    CollectCopyFilesSections();
    CollectAddServiceSections();
    CollectSoftwareSettingsSections();
    return result;
}

const std::vector<CStr>& CInf::SectionNames() const
{
    if (!m_bSectionNamesRead) {
        m_bSectionNamesRead = true;
        m_vSectionNames = InfSectionNames(m_hInf.get(), m_sInfPath.c_str(), &m_bSectionNamesWhole);
    }
    return m_vSectionNames;
}

const std::vector<unsigned>& CInf::SectionKeys() const
{
    if (!m_bSectionKeysRead) {
        m_bSectionKeysRead = true;
        // One lookup per section and a walk over its lines: SetupAPI may
        // find a section by comparing names one by one (Wine does), so
        // asking for each key on its own would cost that search per key.
        const std::vector<CStr>& names = SectionNames();
        m_vSectionKeys.assign(names.size(), 0);
        for (size_t i = 0; i < names.size(); ++i) {
            ForEachLine(m_hInf.get(), names[i].c_str(), nullptr, [&](INFCONTEXT& line) {
                wchar_t key[kEntryChars];
                if (!driverapi::SetupGetStringFieldW(&line, 0, key, kEntryChars, nullptr))
                    return 1;
                if (_wcsicmp(key, L"CopyFiles") == 0)
                    m_vSectionKeys[i] |= kKeyCopyFiles;
                else if (_wcsicmp(key, L"AddService") == 0)
                    m_vSectionKeys[i] |= kKeyAddService;
                return 1;
            });
        }
    }
    return m_vSectionKeys;
}

void CInf::CollectCopyFilesSections()
{
    const std::vector<CStr>& names = SectionNames();
    for (size_t i = 0; i < names.size(); ++i)
        if (SectionKeys()[i] & kKeyCopyFiles)
            m_vCopyFilesSections.push_back(names[i]);
}

void CInf::CollectAddServiceSections()
{
    const std::vector<CStr>& names = SectionNames();
    for (size_t i = 0; i < names.size(); ++i)
        if (SectionKeys()[i] & kKeyAddService)
            m_vAddServiceSections.push_back(names[i]);
}

void CInf::CollectSoftwareSettingsSections()
{
    for (const CStr& name : SectionNames())
        if (name.FindNoCase(L".SoftwareSettings") >= 0)
            m_vSoftwareSettingsSections.push_back(name);
}

int CInf::GetServiceName(const wchar_t* section, wchar_t* buffer, DWORD capacity)
{
    if (!buffer || capacity == 0)
        return 0;
    buffer[0] = L'\0';
    if (!section) {
        if (m_vAddServiceSections.empty())
            return 0;
        section = m_vAddServiceSections.front().c_str();
    }
    INFCONTEXT context;
    if (!FindLine(m_hInf.get(), section, L"AddService", &context))
        return 0;
    if (!driverapi::SetupGetStringFieldW(&context, 1, buffer, capacity, nullptr)) {
        buffer[0] = L'\0';
        return 0;
    }
    return 1;
}

CStr CInf::FirstServiceName(DWORD chars)
{
    std::vector<wchar_t> name(chars ? chars : 1, L'\0');
    return GetServiceName(nullptr, name.data(), chars) ? CStr(name.data()) : CStr();
}

std::vector<CStr> CInf::ServiceNames()
{
    std::vector<CStr> names;
    for (const CStr& section : m_vAddServiceSections) {
        ForEachLine(m_hInf.get(), section.c_str(), L"AddService", [&](INFCONTEXT& line) {
            wchar_t name[kEntryChars];
            if (driverapi::SetupGetStringFieldW(&line, 1, name, kEntryChars, nullptr) && name[0])
                names.emplace_back(name);
            return 1;
        });
    }
    return names;
}

bool CInf::HasSection(const wchar_t* section)
{
    return IsOpen() && section && section[0] && driverapi::SetupGetLineCountW(m_hInf.get(), section) >= 0;
}

CStr CInf::ActualSection(const wchar_t* section)
{
    if (!section || !section[0])
        return CStr();
    if (HasSection(section))
        return CStr(section);
    // The plug-in is built for x64 only, so the platform's decoration is
    // fixed; the plain .NT form is any NT platform's.
    for (const wchar_t* decoration : {L".NTamd64", L".NT"}) {
        CStr decorated(section);
        decorated += decoration;
        if (HasSection(decorated.c_str()))
            return decorated;
    }
    return CStr();
}

int CInf::GetServiceStartType(const wchar_t* section, DWORD* startType)
{
    if (!startType)
        return 0;
    if (!section) {
        if (m_vAddServiceSections.empty())
            return 0;
        section = m_vAddServiceSections.front().c_str();
    }
    INFCONTEXT context;
    wchar_t serviceSection[kServiceSectionChars];
    if (!FindLine(m_hInf.get(), section, L"AddService", &context) ||
        !driverapi::SetupGetStringFieldW(&context, 3, serviceSection, kServiceSectionChars, nullptr))
        return 0;
    INT value = 0;
    if (!FindLine(m_hInf.get(), serviceSection, L"StartType", &context) ||
        !driverapi::SetupGetIntField(&context, 1, &value))
        return 0;
    *startType = static_cast<DWORD>(value);
    return 1;
}
