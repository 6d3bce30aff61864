// Name, description and version answers from a loaded package definition,
// the language index and the message tables as UTF-16 code units.
#include "package_fixture.h"

#include <cstdint>

using namespace tzrtest;

namespace {

const std::string kNames =
    "<name>"
    "<name_xlate lang='de'>Name de</name_xlate>"
    "<name_xlate lang='en'>Name en</name_xlate>"
    "<name_xlate lang='fr'>Nom fr</name_xlate>"
    "<name_xlate lang='it'>\n  indented</name_xlate>"
    "<name_xlate lang='es'><![CDATA[Nombre es]]></name_xlate>"
    "<name_xlate lang='ja'><b>element</b></name_xlate>"
    "</name>";

}  // namespace

TEST_F(PackageTest, NameByLanguage)
{
    AddFile(L"kxname.xml", Package(kNames + "<version value='1.2.3.4'/>"));
    CBaseComponent c;
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxname.xml"));
    struct Case {
        const wchar_t* language;
        int result;
        const wchar_t* text;
    } cases[] = {
        {L"en", 1, L"Name en"}, {L"FR", 1, L"Nom fr"},  {L"fr-FR", 1, L"Name en"}, {L"pt", 1, L"Name en"},
        {L"", 1, L"Name en"},   {L"es", 1, L"Nombre es"},
        // The chosen entry's first child is not text: no fallback to English.
        {L"it", 0, nullptr},    {L"ja", 0, nullptr},
        // No language: the first entry of the chain.
        {nullptr, 1, L"Name de"},
    };
    for (const Case& k : cases) {
        wchar_t text[64];
        wmemset(text, L'Z', 64);
        EXPECT_EQ(k.result, c.GetName(text, 64, k.language)) << (k.language ? Narrow(k.language) : "null");
        if (k.text) {
            EXPECT_STREQ(k.text, text);
        } else {
            EXPECT_EQ(L'Z', text[0]);
        }
    }
}

TEST_F(PackageTest, NameWithoutEnglishEntry)
{
    AddFile(L"kxname.xml", Package("<name><name_xlate lang='fr'>Nom</name_xlate></name>"));
    CBaseComponent c;
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxname.xml"));
    wchar_t text[16] = L"";
    EXPECT_EQ(1, c.GetName(text, 16, L"fr"));
    EXPECT_EQ(0, c.GetName(text, 16, L"de"));
    EXPECT_EQ(0, c.GetName(nullptr, 16, L"fr"));
}

TEST_F(PackageTest, DescriptionOnlyFromACdataSection)
{
    AddFile(L"kxdesc.xml",
            Package("<description>"
                    "<description_xlate lang='en'>\r\n    <![CDATA[Line one\r\n  Line two & <more>]]>\r\n"
                    "</description_xlate>"
                    "<description_xlate lang='fr'>Texte simple</description_xlate>"
                    "<description_xlate lang='de'>Vorweg<![CDATA[Abschnitt]]></description_xlate>"
                    "<description_xlate lang='es'><![CDATA[]]></description_xlate>"
                    "</description>"));
    CBaseComponent c;
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxdesc.xml"));
    wchar_t text[64];
    ASSERT_EQ(1, c.GetDescription(text, 64, L"en"));
    EXPECT_STREQ(L"Line one\n  Line two & <more>", text);
    wmemset(text, L'Z', 64);
    EXPECT_EQ(0, c.GetDescription(text, 64, L"fr"));
    EXPECT_EQ(L'Z', text[0]);
    ASSERT_EQ(1, c.GetDescription(text, 64, L"de"));
    EXPECT_STREQ(L"Abschnitt", text);
    ASSERT_EQ(1, c.GetDescription(text, 64, L"es"));
    EXPECT_STREQ(L"", text);
    // The text needs 29 units with its terminator.
    wmemset(text, L'Z', 64);
    EXPECT_EQ(0, c.GetDescription(text, 28, L"en"));
    EXPECT_EQ(L'Z', text[0]);
    EXPECT_EQ(1, c.GetDescription(text, 29, L"en"));
}

TEST_F(PackageTest, NewVersion)
{
    struct Case {
        std::string children;
        int result;
        const wchar_t* text;
    } cases[] = {
        {"<version value='5.1.0.22'/>", 1, L"5.1.0.22"},
        {"<version value=''/>", 0, nullptr},
        {"<version/>", 0, nullptr},
        {"<version>5.0</version>", 0, nullptr},
        {"", 0, nullptr},
    };
    for (const Case& k : cases) {
        AddFile(L"kxver.xml", Package(k.children));
        CBaseComponent c;
        ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxver.xml"));
        wchar_t text[16];
        wmemset(text, L'Z', 16);
        EXPECT_EQ(k.result, c.GetNewVersion(text, 16)) << k.children;
        if (k.text) {
            EXPECT_STREQ(k.text, text);
            // "5.1.0.22" is 8 characters: capacity 8 is too small.
            EXPECT_EQ(0, c.GetNewVersion(text, 8));
        } else {
            EXPECT_EQ(L'Z', text[0]);
        }
    }
}

TEST_F(PackageTest, WithoutPackageNothingIsKnown)
{
    CBaseComponent c;
    wchar_t text[16];
    wmemset(text, L'Z', 16);
    EXPECT_EQ(0, c.GetName(text, 16, L"en"));
    EXPECT_EQ(0, c.GetDescription(text, 16, L"en"));
    EXPECT_EQ(0, c.GetNewVersion(text, 16));
    EXPECT_EQ(0, c.GetCurrentVersion(text, 16));
    EXPECT_EQ(L'Z', text[0]);
}

TEST(Messages, LanguageIndex)
{
    struct Case {
        const wchar_t* code;
        int index;
    } cases[] = {
        {L"en", 0}, {L"fr", 1}, {L"FR", 1}, {L"it", 2}, {L"De", 3}, {L"es", 4}, {L"jA", 5},
        {L"fr-FR", 0}, {L"f", 0}, {L"", 0}, {nullptr, 0}, {L"zh", 0}, {L"ja ", 0},
    };
    for (const Case& k : cases)
        EXPECT_EQ(k.index, CBaseComponent::GetLanguageIndex(k.code)) << (k.code ? Narrow(k.code) : "null");
}

TEST(Messages, TablesHoldTheirTextsAsUtf16)
{
    // FNV-1a over every entry's UTF-16 code units and terminator, computed
    // from the texts independently of this source file's charset.
    struct Table {
        const TzrMessageTable* table;
        uint64_t hash;
        size_t lengths[kLanguageCount];
    } tables[] = {
        {&g_aszNoSupportedDevices, 0xbd2893c590e76ee3ULL, {36, 50, 36, 47, 47, 24}},
        {&g_aszInstallError, 0x4dc3a9090935be02ULL, {38, 29, 38, 51, 43, 19}},
        {&g_aszNoDevicesToInstall, 0x2cd00738013381a9ULL, {33, 31, 33, 50, 48, 24}},
        {&g_aszInstallFailedOnDevice, 0x1cf4ba84e708e463ULL, {191, 239, 245, 222, 245, 102}},
        {&g_aszShellExecuteError, 0xecf06f367318c881ULL, {50, 50, 50, 50, 50, 50}},
        {&g_aszUnknownInfType, 0x61fcc322fd9e6522ULL, {56, 55, 56, 67, 62, 34}},
        {&g_aszOsNotSupported, 0xe1736f4ff1243dc0ULL, {26, 52, 26, 43, 40, 19}},
        {&g_aszNotEnoughDiskSpace, 0xc2e890e302284a59ULL, {59, 61, 59, 108, 77, 39}},
        {&g_aszMarkedForRemoval, 0x0bf9e6fca01047b6ULL, {86, 90, 86, 125, 109, 54}},
    };
    for (size_t t = 0; t < sizeof tables / sizeof tables[0]; ++t) {
        uint64_t hash = 0xcbf29ce484222325ULL;
        for (int i = 0; i < kLanguageCount; ++i) {
            const wchar_t* text = (*tables[t].table)[i];
            ASSERT_NE(nullptr, text);
            EXPECT_EQ(tables[t].lengths[i], wcslen(text)) << "table " << t + 1 << " language " << i;
            for (const wchar_t* p = text;; ++p) {
                hash = (hash ^ static_cast<uint16_t>(*p)) * 0x100000001b3ULL;
                if (!*p)
                    break;
            }
        }
        EXPECT_EQ(tables[t].hash, hash) << "table " << t + 1;
    }
    // A few texts spelled out in code units.
    EXPECT_STREQ(L"Aucun p\u00E9riph\u00E9rique pris en charge n'a \u00E9t\u00E9 sp\u00E9cifi\u00E9",
                 g_aszNoSupportedDevices[kLangFrench]);
    EXPECT_STREQ(L"\u3053\u306EOS\u306F\u30B5\u30DD\u30FC\u30C8\u3055\u308C\u3066\u3044\u307E\u305B\u3093\u3002\r\n",
                 g_aszOsNotSupported[kLangJapanese]);
    EXPECT_STREQ(L"F\u00FCr die Installation dieser Komponente steht nicht gen\u00FCgend freier "
                 L"Festplattenspeicherplatz zur Verf\u00FCgung.\r\n",
                 g_aszNotEnoughDiskSpace[kLangGerman]);
    // Two blanks between the sentences in English and Spanish, one elsewhere.
    EXPECT_NE(nullptr, wcsstr(g_aszInstallFailedOnDevice[kLangEnglish], L"device.  One"));
    EXPECT_NE(nullptr, wcsstr(g_aszInstallFailedOnDevice[kLangSpanish], L"m\u00EDnimo.  Quiz\u00E1"));
    EXPECT_NE(nullptr, wcsstr(g_aszInstallFailedOnDevice[kLangFrench], L"moins. Il"));
}

TEST(Messages, LookupsByIndexAndWithFallback)
{
    // Install state: the language's own entry; Italian holds the English text.
    EXPECT_STREQ(L"The OS is not supported.\r\n", CBaseComponent::GetMessageForLanguage(g_aszOsNotSupported, L"it"));
    EXPECT_STREQ(L"El sistema operativo no es compatible.\r\n",
                 CBaseComponent::GetMessageForLanguage(g_aszOsNotSupported, L"ES"));
    EXPECT_STREQ(g_aszNotEnoughDiskSpace[kLangFrench],
                 CBaseComponent::GetMessageForLanguage(g_aszNotEnoughDiskSpace, L"fr"));
    EXPECT_STREQ(g_aszMarkedForRemoval[kLangEnglish],
                 CBaseComponent::GetMessageForLanguage(g_aszMarkedForRemoval, nullptr));
    // Installation: Japanese or English only.
    EXPECT_STREQ(L"An error occurred during installation.",
                 CBaseComponent::GetLocalizedMessage(g_aszInstallError, L"es"));
    EXPECT_STREQ(g_aszInstallError[kLangJapanese], CBaseComponent::GetLocalizedMessage(g_aszInstallError, L"JA"));
    EXPECT_STREQ(g_aszNoSupportedDevices[kLangEnglish],
                 CBaseComponent::GetLocalizedMessage(g_aszNoSupportedDevices, L"fr"));
    EXPECT_STREQ(g_aszShellExecuteError[kLangEnglish],
                 CBaseComponent::GetLocalizedMessage(g_aszShellExecuteError, L"ja"));
    const wchar_t* const emptyJapanese[kLanguageCount] = {L"English", L"f", L"i", L"d", L"s", L""};
    EXPECT_STREQ(L"English", CBaseComponent::GetLocalizedMessage(emptyJapanese, L"ja"));
}
