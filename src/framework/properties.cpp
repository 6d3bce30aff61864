// The property queries: the dispatch and the base answers.
#include "base_component.h"

#include "file_version.h"

#include <cstring>
#include <cwchar>

namespace {

// A capability flag is four bytes; a host that gives less gets nothing
// written and the answer 0.
int WriteFlag(void* buffer, unsigned size, int flag)
{
    const unsigned value = static_cast<unsigned>(flag);
    if (size < sizeof value)
        return 0;
    memcpy(buffer, &value, sizeof value);
    return 1;
}

}  // namespace

int CBaseComponent::GetProperty(unsigned id, void* buffer, unsigned size, const wchar_t* language)
{
    wchar_t* text = static_cast<wchar_t*>(buffer);
    switch (id) {
    case TZRPROP_NAME:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_NAME)\r\n");
        return GetName(text, size, language);
    case TZRPROP_DESCRIPTION:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_DESCRIPTION)\r\n");
        return GetDescription(text, size, language);
    case TZRPROP_VERSIONCURRENT:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_VERSIONCURRENT)\r\n");
        return GetCurrentVersion(text, size);
    case TZRPROP_VERSIONNEW:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_VERSIONNEW)\r\n");
        return GetNewVersion(text, size);
    case TZRPROP_INSTALLSTATE:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_INSTALLSTATE)\r\n");
        return GetInstallState(buffer, size, language);
    case TZRPROP_SUPPORTSILENTINSTALL: {
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_SUPPORTSILENTINSTALL)\r\n");
        return WriteFlag(buffer, size, SupportsSilentInstall());
    }
    case TZRPROP_SUPPORTSILENTUPDATE: {
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_SUPPORTSILENTUPDATE)\r\n");
        return WriteFlag(buffer, size, SupportsSilentUpdate());
    }
    case TZRPROP_SUPPORTDOWNGRADE: {
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_SUPPORTDOWNGRADE)\r\n");
        return WriteFlag(buffer, size, SupportsDowngrade());
    }
    default:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(0x%02X) - unknown type\r\n", id);
        return 0;
    }
}

namespace {

// Copies text with its terminator when it fits; 0 and nothing written when
// it needs capacity characters or more.
int AnswerText(const wchar_t* text, wchar_t* out, unsigned capacity)
{
    if (!text || !out)
        return 0;
    const size_t length = wcslen(text);
    if (length >= capacity)
        return 0;
    memcpy(out, text, (length + 1) * sizeof(wchar_t));
    return 1;
}

// The translation for the host's language under tzr_package/<group>: the
// entry whose lang matches in any letter case, else the English entry. A
// null language takes the first entry of the chain.
const CTzrXMLNode* Translation(const CTzrXMLReader* reader, const wchar_t* group, const wchar_t* entry,
                               const wchar_t* language)
{
    if (!reader)
        return nullptr;
    const CTzrXMLNode* package = reader->FindChild(nullptr, L"tzr_package");
    const CTzrXMLNode* parent = package ? reader->FindChild(package, group) : nullptr;
    if (!parent)
        return nullptr;
    if (!language)
        return reader->FindChild(parent, entry);
    if (const CTzrXMLNode* found = reader->FindChild(parent, entry, L"lang", language))
        return found;
    return reader->FindChild(parent, entry, L"lang", L"en");
}

}  // namespace

int CBaseComponent::GetName(wchar_t* message, unsigned capacity, const wchar_t* language)
{
    return AnswerText(TzrElementText(Translation(m_pPackageReader, L"name", L"name_xlate", language)), message,
                      capacity);
}

// The description is the first CDATA section of the translation; plain text
// is not a description.
int CBaseComponent::GetDescription(wchar_t* message, unsigned capacity, const wchar_t* language)
{
    const CTzrXMLNode* translation = Translation(m_pPackageReader, L"description", L"description_xlate", language);
    const CTzrXMLNode* section = translation ? translation->GetChild(L"#CDATA") : nullptr;
    if (!section || section->m_nType != CTzrXMLNode::kText)
        return 0;
    return AnswerText(section->GetText() ? section->GetText() : L"", message, capacity);
}

// The installed version is the file version of the target file; a relative
// target is read from the plug-in's folder.
int CBaseComponent::GetCurrentVersion(wchar_t* message, unsigned capacity)
{
    const CFileVersionInfo info(TargetFile().c_str());
    const CStr text = info.GetFileVersionText();
    if (text.empty())
        return 0;
    return AnswerText(text.c_str(), message, capacity);
}

int CBaseComponent::GetNewVersion(wchar_t* message, unsigned capacity)
{
    if (!m_pPackageReader)
        return 0;
    const CTzrXMLNode* package = m_pPackageReader->FindChild(nullptr, L"tzr_package");
    const CTzrXMLNode* version = package ? m_pPackageReader->FindChild(package, L"version") : nullptr;
    const wchar_t* value = version ? version->GetAttribute(L"value") : nullptr;
    if (!value || !value[0])
        return 0;
    return AnswerText(value, message, capacity);
}

int CBaseComponent::SupportsSilentInstall()
{
    return m_bSilent;
}

int CBaseComponent::SupportsSilentUpdate()
{
    return m_bSilent;
}

int CBaseComponent::SupportsDowngrade()
{
    return 1;
}
