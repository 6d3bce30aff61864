// Locating and reading the package definition ("kx*.xml", root tzr_package)
// and the installer description.
//
// Lookups follow the wide reader's sibling chain: of several children with
// one name the first met is the first in document order only when it is the
// parent's first child, otherwise the last; walks along m_pNext then go
// backwards through the document. Package definitions in the field rely on
// exactly that order, so it is kept as is.
#include "base_component.h"

#include "service_manager.h"
#include "text_util.h"
#include "win_handle.h"

#include <cwchar>
#include <memory>
#include <new>
#include <string>

namespace {

const wchar_t kSource[] = L"pkgdef";

const size_t kPlatformChars = 64;  // SupportedOS::szPlatform
const size_t kDeviceIdChars = 256;  // pieces of a PCI id, terminator included

// Decimal in the C runtime's _wtoi manner, but held to the range of 32 bits
// instead of wrapping: an absurd value stays absurd, not small.
long long ParseDecimal(const wchar_t* text)
{
    return ReadDecimal(text, 0xFFFFFFFFLL);
}

// Unsigned fields take the value modulo 2^32, as a conversion of the signed
// reading would: "-1" is the largest build number.
DWORD ParseUnsigned(const wchar_t* text)
{
    return static_cast<DWORD>(static_cast<unsigned long long>(ParseDecimal(text)) & 0xFFFFFFFFULL);
}

WORD EditionMaskFromKeyword(const wchar_t* keyword)
{
    static const struct {
        const wchar_t* keyword;
        WORD mask;
    } kEditions[] = {
        {L"srvr", 0xFF05},   {L"core", 0xFF0A},   {L"r2", 0xFF0C},     {L"r2srvr", 0xFF04},
        {L"r2core", 0xFF08}, {L"dc", 0x040F},     {L"dcsrvr", 0x0405}, {L"dccore", 0x040A},
        {L"dcr2", 0x040C},   {L"dcr2srvr", 0x0404}, {L"dcr2core", 0x0408}, {L"sbs", 0x0205},
        {L"sbsr2", 0x0204},  {L"ebs", 0x0206},    {L"ebsr2", 0x0207},
    };
    if (!keyword[0])
        return 0xFFFF;
    // Comparing without regard to ASCII case is the lower-cased exact lookup.
    for (const auto& edition : kEditions) {
        if (TzrCompareNoCase(keyword, edition.keyword) == 0)
            return edition.mask;
    }
    return 0;  // matches no running system
}

bool IsYes(const wchar_t* value)
{
    return TzrCompareNoCase(value, L"yes") == 0;
}

SupportedOS ReadSupportedOS(const CTzrXMLNode* element)
{
    SupportedOS entry;
    if (const wchar_t* platform = element->GetAttribute(L"platform"))
        BoundedCopy(entry.szPlatform, kPlatformChars, platform);
    if (const wchar_t* major = element->GetAttribute(L"major"))
        entry.dwMajor = static_cast<DWORD>(ReadDecimalInt(major));
    if (const wchar_t* minor = element->GetAttribute(L"minor"))
        entry.dwMinor = static_cast<DWORD>(ReadDecimalInt(minor));
    if (const wchar_t* sr = element->GetAttribute(L"sr"))
        entry.dwServicePack = static_cast<DWORD>(ReadDecimalInt(sr));
    if (const wchar_t* edition = element->GetAttribute(L"edition"))
        entry.wEditionMask = EditionMaskFromKeyword(edition);
    if (const wchar_t* minimum = element->GetAttribute(L"minimumbuild"))
        entry.dwMinBuild = ParseUnsigned(minimum);
    if (const wchar_t* maximum = element->GetAttribute(L"maximumbuild"))
        entry.dwMaxBuild = ParseUnsigned(maximum);
    return entry;
}

// "PCI\VEN_vvvv&DEV_dddd" from 8 characters, with "&SUBSYS_" and the
// subsystem id before the subsystem vendor from 16; any other length gives
// an empty id.
CStr PciHardwareId(const wchar_t* pieces)
{
    const std::wstring text = pieces;
    if (text.size() == 8)
        return CStr((L"PCI\\VEN_" + text.substr(0, 4) + L"&DEV_" + text.substr(4, 4)).c_str());
    if (text.size() == 16)
        return CStr((L"PCI\\VEN_" + text.substr(0, 4) + L"&DEV_" + text.substr(4, 4) + L"&SUBSYS_" +
                     text.substr(12, 4) + text.substr(8, 4))
                        .c_str());
    return CStr();
}

// A lookup under a parent that may be missing: a missing parent has no
// children (the reader would search the document node instead).
const CTzrXMLNode* Find(const CTzrXMLReader& xml, const CTzrXMLNode* parent, const wchar_t* name,
                        const wchar_t* attributeName = nullptr, const wchar_t* attributeValue = nullptr)
{
    return parent ? xml.FindChild(parent, name, attributeName, attributeValue) : nullptr;
}

}  // namespace

#define PKGDEF_LOG(mode, ...)                                                          \
    do {                                                                               \
        if (m_pLog)                                                                    \
            m_pLog->Write((mode), CCmpLog2::kPlain, kSource, __LINE__, __VA_ARGS__);   \
    } while (0)

int CBaseComponent::LocatePackageDefinition(wchar_t* path, unsigned capacity)
{
    if (!path || capacity == 0)
        return 0;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(L"kx*.xml", &found));
    if (!search)
        return 0;
    do {
        found.cFileName[MAX_PATH - 1] = L'\0';
        // A name the caller's buffer cannot hold with its terminator could
        // never be opened again from there: not a candidate.
        if (wcslen(found.cFileName) >= capacity)
            continue;
        std::unique_ptr<CTzrXMLReader> reader(new (std::nothrow) CTzrXMLReader());
        if (!reader)
            return 0;
        if (reader->LoadFile(found.cFileName) != CTzrXMLReader::kLoaded ||
            !reader->FindChild(nullptr, L"tzr_package"))
            continue;
        wcsncpy(path, found.cFileName, capacity);  // fills the rest with zeros
        return 1;
    } while (FindNextFileW(search.get(), &found));
    return 0;
}

unsigned CBaseComponent::ReadPackageDefinition(const wchar_t* path)
{
    if (!path)
        return 4;
    if (m_pPackageReader)
        return 1;  // read once; the loaded document answers the property queries
    m_pPackageReader = new (std::nothrow) CTzrXMLReader();
    if (!m_pPackageReader)
        return 1;
    const unsigned code = m_pPackageReader->LoadFile(path);
    if (code != CTzrXMLReader::kLoaded) {
        PKGDEF_LOG(CCmpLog2::kVerboseContinue, L"%ls; ", m_pPackageReader->Why());
        return code;
    }
    if (!m_pPackageReader->m_bLoaded)
        return 3;

    CTzrXMLReader& xml = *m_pPackageReader;
    const CTzrXMLNode* package = xml.FindChild(nullptr, L"tzr_package");
    if (!package)
        return 0;

    // The file name less its extension. The extension goes first, then the
    // name is held to the array: a long name loses its end, never the part
    // before the extension.
    if (const wchar_t* fileName = TzrElementText(Find(xml, package, L"filename"))) {
        const size_t length = wcslen(fileName);
        const std::wstring name(fileName, length < 4 ? 0 : length - 4);
        BoundedCopy(m_szPackageName, sizeof m_szPackageName / sizeof m_szPackageName[0], name.c_str());
    }

    m_SoftwareKeyWalk.entry = Find(xml, Find(xml, package, L"sw_keys"), L"sw_keys_and");
    WalkSoftwareKeys(false);

    const CTzrXMLNode* install = Find(xml, Find(xml, package, L"installation"), L"install");
    if (const CTzrXMLNode* caps = Find(xml, install, L"install_caps")) {
        if (const wchar_t* silent = caps->GetAttribute(L"silent"))
            m_bSilent = IsYes(silent) ? 1 : 0;
    }
    if (const CTzrXMLNode* reboot = Find(xml, install, L"reboot_required")) {
        if (const wchar_t* value = reboot->GetAttribute(L"value"))
            m_bRebootRequired = IsYes(value) ? 1 : 0;
    }

    const CTzrXMLNode* prerequisites = Find(xml, package, L"prerequisites");
    if (const CTzrXMLNode* disk = Find(xml, prerequisites, L"required_diskspace")) {
        const wchar_t* size = disk->GetAttribute(L"size_kb");
        m_dwRequiredDiskSpaceKB = size ? ParseUnsigned(size) : 0;
    }

    const CTzrXMLNode* devices = Find(xml, prerequisites, L"supported_devices");
    for (const CTzrXMLNode* entry = Find(xml, devices, L"supported_devices_and"); entry;
         entry = entry->GetNextSibling(L"supported_devices_and")) {
        const CTzrXMLNode* device = Find(xml, entry, L"supported_device");
        const wchar_t* type = device ? device->GetAttribute(L"type") : nullptr;
        if (!type)
            continue;
        if (TzrCompareNoCase(type, L"pci") == 0) {
            wchar_t pieces[kDeviceIdChars] = L"";
            for (const wchar_t* piece : {L"ven", L"dev", L"subven", L"subdev"}) {
                const wchar_t* text =
                    TzrElementText(Find(xml, device, L"supported_device_data", L"name", piece));
                BoundedAppend(pieces, kDeviceIdChars, text);
            }
            m_vSupportedDevices.push_back(PciHardwareId(pieces));
        } else if (TzrCompareNoCase(type, L"scsi") == 0 || TzrCompareNoCase(type, L"pnp") == 0) {
            const CTzrXMLNode* data = Find(xml, device, L"supported_device_data");
            const wchar_t* name = data ? data->GetAttribute(L"name") : nullptr;
            const wchar_t* id = TzrElementText(data);
            if (!name || TzrCompareNoCase(name, L"id") != 0 || !id)
                continue;
            (TzrCompareNoCase(type, L"scsi") == 0 ? m_vScsiDevices : m_vSupportedDevices).push_back(CStr(id));
        }
    }

    const CTzrXMLNode* systems = Find(xml, prerequisites, L"supported_operating_systems");
    for (const CTzrXMLNode* entry = Find(xml, systems, L"supported_operating_system"); entry;
         entry = entry->GetNextSibling(L"supported_operating_system"))
        m_vSupportedOS.push_back(ReadSupportedOS(entry));

    return 0;
}

// The target file: each key in walk order by its expected path, then
// through the service database; the first existing file wins, and without
// one the first expected path stays. Reading the package (under the loader
// lock) stops before the service database; TargetFile goes on from there.
void CBaseComponent::WalkSoftwareKeys(bool askServiceDatabase)
{
    SoftwareKeyWalk& walk = m_SoftwareKeyWalk;
    for (; walk.entry; walk.entry = walk.entry->m_pNext) {
        if (!walk.lookupDue) {
            const CTzrXMLNode* key = Find(*m_pPackageReader, walk.entry, L"sw_key");
            if (!key)
                continue;
            if (const wchar_t* name = key->GetAttribute(L"name"))
                walk.keyFile = name;
            PKGDEF_LOG(CCmpLog2::kVerboseHeader, L"    - filename %ls\r\n", walk.keyFile.GetString());
            const wchar_t* directory = TzrElementText(Find(*m_pPackageReader, key, L"sw_key_expectedpath"));
            if (!directory)
                continue;
            std::wstring joined = directory;
            if (joined.empty() || joined.back() != L'\\')
                joined += L'\\';
            joined += walk.keyFile;
            wchar_t expanded[MAX_PATH] = L"";
            const DWORD needed = ExpandEnvironmentStringsW(joined.c_str(), expanded, MAX_PATH);
            if (needed == 0 || needed > MAX_PATH) {
                // A cut path would name some other file: the key is not usable.
                PKGDEF_LOG(CCmpLog2::kVerboseHeader, L"    - sw_key_expectedpath longer than %d characters: %ls\r\n",
                           MAX_PATH - 1, joined.c_str());
                continue;
            }
            PKGDEF_LOG(CCmpLog2::kVerboseHeader, L"    - sw_key_expectedpath %ls\r\n", expanded);
            if (m_sTargetFile.empty())
                m_sTargetFile = expanded;
            const DWORD attributes = GetFileAttributesW(expanded);
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                m_sTargetFile = expanded;
                PKGDEF_LOG(CCmpLog2::kVerboseHeader, L"    - m_sTargetFile %ls\r\n", m_sTargetFile.GetString());
                break;
            }
            PKGDEF_LOG(CCmpLog2::kVerboseHeader, L"    - Driver path from component xml %ls\r\n", expanded);
            walk.lookupDue = true;
        }
        if (!askServiceDatabase)
            return;
        walk.lookupDue = false;
        // The first installed service whose image path holds the file name
        // and names a file that exists.
        CStr installed;
        if (CServiceManager().FindDriverFile(walk.keyFile.GetString(), installed)) {
            m_sTargetFile = installed;
            PKGDEF_LOG(CCmpLog2::kVerboseHeader, L"    - Driver path from service control manager database %ls\r\n",
                       m_sTargetFile.GetString());
            break;
        }
        PKGDEF_LOG(CCmpLog2::kVerboseHeader, L"    - Driver path not found in service control manager database %ls\r\n",
                   m_sTargetFile.GetString());
    }
    walk.entry = nullptr;
}

const CStr& CBaseComponent::TargetFile()
{
    if (m_SoftwareKeyWalk.entry)
        WalkSoftwareKeys(true);
    return m_sTargetFile;
}
