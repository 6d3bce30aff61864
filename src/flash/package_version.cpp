// The package's files in the current directory, its firmware version and
// the version text the host receives as the current version.
#include "flash_engine.h"

#include "process_log.h"
#include "win_handle.h"

#include "c_xml.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Rebuilt by each getFirmwareCurrentVersion call; at most 1023 bytes.
char g_versionText[1024] = "";
const size_t kPieceChars = 249;

}  // namespace

std::string findFirstFileContaining(const std::string& text)
{
    // A relative pattern searches the current directory (the package
    // folder) without spelling its name in the ANSI code page, which would
    // turn every character outside it into "?" and find nothing.
    const char pattern[] = "*";

    // Every entry counts, folders and "." and ".." included, in the order
    // the file system lists them.
    WIN32_FIND_DATAA found;
    UniqueFindHandle search(FindFirstFileA(pattern, &found));
    if (!search)
        return std::string();
    do {
        if (strstr(found.cFileName, text.c_str()))
            return found.cFileName;
    } while (FindNextFileA(search.get(), &found));
    return std::string();
}

bool toAnsi(const wchar_t* name, std::string& ansi)
{
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, nullptr, 0, nullptr, &lossy);
    ansi.assign(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, &ansi[0], n, nullptr, &lossy);
    ansi.resize(ansi.size() - 1);
    return n > 0 && !lossy;
}

std::wstring fromAnsi(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string toAnsiText(const wchar_t* text)
{
    std::string ansi;
    toAnsi(text, ansi);
    return ansi;
}

namespace {

// An image's name ends in ".bin", in any letter case; "fw.bin.sha256" is a
// file beside the image, not one.
bool endsInBin(const wchar_t* name)
{
    const size_t n = wcslen(name);
    return n >= 4 && CompareStringOrdinal(name + n - 4, 4, L".bin", 4, TRUE) == CSTR_EQUAL;
}

}  // namespace

std::string findFirmwareImage(unsigned* images, std::string* refused)
{
    struct Candidate {
        std::string name;
        const char* refused;  // null: a regular, non-empty file the tool can be given
    };
    std::vector<Candidate> candidates;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(L"*", &found));
    if (search) {
        do {
            if (!wcsstr(found.cFileName, L".bin") && !endsInBin(found.cFileName))
                continue;
            Candidate c;
            const bool nameable = toAnsi(found.cFileName, c.name);
            if (!endsInBin(found.cFileName))
                c.refused = "its name does not end in .bin";
            else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                c.refused = "a folder";
            else if (found.nFileSizeHigh == 0 && found.nFileSizeLow == 0)
                c.refused = "an empty file";
            else if (!nameable)
                c.refused = "its name cannot be given to the tool in the ANSI code page";
            else
                c.refused = nullptr;
            candidates.push_back(c);
        } while (FindNextFileW(search.get(), &found));
    }
    size_t usable = 0;
    const Candidate* image = nullptr;
    for (const Candidate& c : candidates) {
        if (!c.refused) {
            ++usable;
            image = &c;
        }
    }
    // Which of two images the package means cannot be guessed: an old image
    // left beside the new one must not be written over every controller.
    const bool chosen = usable == 1;
    for (const Candidate& c : candidates) {
        if (c.refused)
            LogPrint(kLogVerbose, "Firmware image candidate %s refused: %s\n", c.name.c_str(), c.refused);
        else if (!chosen)
            LogPrint(kLogVerbose, "Firmware image candidate %s refused: one of %u images\n", c.name.c_str(),
                     static_cast<unsigned>(usable));
    }
    if (images)
        *images = static_cast<unsigned>(usable);
    if (refused)
        *refused = chosen ? std::string()
                   : usable == 0
                       ? "No firmware image (.bin) found in the package folder; nothing is flashed"
                       : "More than one firmware image (.bin) in the package folder; nothing is flashed";
    return chosen ? image->name : std::string();
}

namespace {

// Parses the package definition with white space trimmed; null (and the
// failure logged) when the file is missing, unreadable or malformed.
std::unique_ptr<C_XML> loadPackageDocument(const std::string& fileName)
{
    std::unique_ptr<C_XML> document(new C_XML());
    document->setTrimWhitespace(true);
    if (fileName.empty() || !document->load(fileName)) {
        LogPrint(kLogVerbose, "XML parse failed: %s%s%s\n", fileName.c_str(), fileName.empty() ? "" : ": ",
                 document->lastError().c_str());
        return nullptr;
    }
    return document;
}

}  // namespace

std::string readKeyFilesFromKXXML(const std::string& fileName)
{
    packageVersion.clear();
    LogPrint(kLogVerbose, "readKeyFilesFromKXXML: %s\n", fileName.c_str());
    const std::unique_ptr<C_XML> document = loadPackageDocument(fileName);
    if (!document)
        return std::string();
    document->selectAttribute("/tzr_package/version", "value", packageVersion);
    return packageVersion;
}

std::string readAltNameFromKXXML(const std::string& fileName)
{
    const std::unique_ptr<C_XML> document = loadPackageDocument(fileName);
    if (!document)
        return std::string();
    std::string altName;
    const bool found = document->selectNode("/tzr_package/alt_name/alt_name_xlate") != nullptr;
    document->selectText("/tzr_package/alt_name/alt_name_xlate", altName);
    LogPrint(kLogVerbose, "alt_name_xlate element found? : %d\n", found ? 1 : 0);
    return altName;
}

const char* getFirmwareCurrentVersion()
{
    LogPrint(kLogVerbose, "getFirmwareCurrentVersion...\n");
    memset(g_versionText, 0, sizeof g_versionText);
    size_t used = 0;
    bool full = false;
    for (size_t i = 0; i < deviceCollection.size(); ++i) {
        const DeviceObj& device = deviceCollection[i];
        LogPrint(kLogVerbose, "isFlashNeed for ID: %d is %d\n", static_cast<int>(i), device.isFlashNeed() ? 1 : 0);
        if (!device.isFlashNeed())
            continue;
        LogPrint(kLogVerbose, "getFirmwareCurrentVersion: Reading out product name and version details\n");
        char piece[kPieceChars + 1];
        snprintf(piece, sizeof piece, "\r\n%s: %s\n", device.getProductName().c_str(),
                 device.getFwVersion().c_str());
        // Whole entries only: a controller that no longer fits is left out
        // rather than shown with a cut version.
        const size_t length = strlen(piece);
        if (full || used + length > sizeof g_versionText - 1) {
            if (!full)
                LogPrint(kLogVerbose, "getFirmwareCurrentVersion: version text full, ID: %d and later left out\n",
                         static_cast<int>(i));
            full = true;
            continue;
        }
        memcpy(g_versionText + used, piece, length);
        used += length;
    }
    LogPrint(kLogVerbose, "getFirmwareCurrentVersion: version %s\n", g_versionText);
    return g_versionText;
}
