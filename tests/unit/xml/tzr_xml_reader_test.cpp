// The wide XML reader: the sibling chain every lookup relies on, the text
// rules, the encodings, the load codes and the tree's ownership.
#include "tzr_xml_reader.h"
#include "test_support.h"
#include "win_handle.h"
#include "expansion_cases.h"
#include "expat_parser.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

using namespace tzrtest;

namespace {

unsigned Load(CTzrXMLReader& reader, const std::string& bytes)
{
    return reader.LoadBuffer(bytes.data(), static_cast<unsigned>(bytes.size()));
}

// The "id" attributes of a parent's children in chain order.
std::vector<std::wstring> ChainIds(const CTzrXMLNode* parent)
{
    std::vector<std::wstring> ids;
    for (const CTzrXMLNode* n = parent->m_pFirstChild; n; n = n->m_pNext)
        ids.push_back(n->GetAttribute(L"id") ? n->GetAttribute(L"id") : n->GetName());
    return ids;
}

const CTzrXMLNode* Root(const CTzrXMLReader& reader)
{
    return reader.m_pRoot ? reader.m_pRoot->m_pFirstChild : nullptr;
}

std::string Utf16Le(const std::wstring& text, bool bom)
{
    std::string bytes = bom ? "\xFF\xFE" : "";
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::string Utf16Be(const std::wstring& text)
{
    std::string bytes = "\xFE\xFF";
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c >> 8));
        bytes.push_back(static_cast<char>(c & 0xFF));
    }
    return bytes;
}

}  // namespace

TEST(TzrXMLReader, ChainsTheFirstChildThenTheOthersBackwards)
{
    CTzrXMLReader r;
    ASSERT_EQ(0u, Load(r, "<p><c id='A'/><c id='B'/><c id='C'/><c id='D'/></p>"));
    ASSERT_TRUE(r.m_bLoaded);
    EXPECT_STREQ(L"#DOCROOT", r.m_pRoot->GetName());
    EXPECT_EQ(nullptr, r.m_pRoot->m_pParent);
    const CTzrXMLNode* p = Root(r);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"D", L"C", L"B"}), ChainIds(p));
    for (const CTzrXMLNode* n = p->m_pFirstChild; n; n = n->m_pNext)
        EXPECT_EQ(p, n->m_pParent);
}

TEST(TzrXMLReader, FindChildMeetsTheFirstChildOrElseTheLastInDocumentOrder)
{
    CTzrXMLReader r;
    ASSERT_EQ(0u, Load(r, "<p><a id='a1'/><b/><a id='a2'/><a id='a3'/></p>"));
    const CTzrXMLNode* found = r.FindChild(Root(r), L"a");
    ASSERT_NE(nullptr, found);
    EXPECT_STREQ(L"a1", found->GetAttribute(L"id"));

    ASSERT_EQ(0u, Load(r, "<p><b/><a id='a1'/><a id='a2'/><a id='a3'/></p>"));
    found = r.FindChild(Root(r), L"a");
    ASSERT_NE(nullptr, found);
    EXPECT_STREQ(L"a3", found->GetAttribute(L"id"));
    const CTzrXMLNode* next = found->GetNextSibling(L"a");
    ASSERT_NE(nullptr, next);
    EXPECT_STREQ(L"a2", next->GetAttribute(L"id"));
    next = next->GetNextSibling(L"a");
    ASSERT_NE(nullptr, next);
    EXPECT_STREQ(L"a1", next->GetAttribute(L"id"));
    EXPECT_EQ(nullptr, next->GetNextSibling(L"a"));
    EXPECT_EQ(found, Root(r)->GetChild(L"a"));
}

TEST(TzrXMLReader, FindChildBySelectorValueInAnyCase)
{
    CTzrXMLReader r;
    ASSERT_EQ(0u, Load(r,
                       "<p><x id='first' lang='fr'/><x id='none'/><x id='en' lang='En'/><x id='yes' sel='yes'/>"
                       "<x id='Lang' Lang='de'/></p>"));
    struct Case {
        const wchar_t* attribute;
        const wchar_t* value;
        const wchar_t* id;  // null: nothing found
    } cases[] = {
        {L"sel", L"YES", L"yes"}, {L"sel", L"yEs", L"yes"}, {L"lang", L"EN", L"en"}, {L"lang", L"fr", L"first"},
        {L"lang", L"de", nullptr},  // attribute names are case-sensitive
        {L"lang", L"e", nullptr},   {L"sel", L"yes ", nullptr},
        {L"lang", nullptr, L"first"},  // without a value the name alone decides
    };
    for (const Case& c : cases) {
        const CTzrXMLNode* found = r.FindChild(Root(r), L"x", c.attribute, c.value);
        if (!c.id) {
            EXPECT_EQ(nullptr, found) << c.value;
        } else {
            ASSERT_NE(nullptr, found) << c.value;
            EXPECT_STREQ(c.id, found->GetAttribute(L"id"));
        }
    }
    EXPECT_EQ(nullptr, r.FindChild(Root(r), L"X"));
    // Only ASCII letters fold.
    ASSERT_EQ(0u, Load(r, "<p><x id='e' v='\xC3\xA9'/></p>"));
    EXPECT_NE(nullptr, r.FindChild(Root(r), L"x", L"v", L"\u00E9"));
    EXPECT_EQ(nullptr, r.FindChild(Root(r), L"x", L"v", L"\u00C9"));
}

TEST(TzrXMLReader, NullParentMeansTheDocumentNode)
{
    CTzrXMLReader r;
    ASSERT_EQ(0u, Load(r, "<tzr_package><name/></tzr_package>"));
    EXPECT_EQ(Root(r), r.FindChild(nullptr, L"tzr_package"));
    EXPECT_EQ(nullptr, r.FindChild(nullptr, L"name"));
    EXPECT_EQ(nullptr, r.FindChild(nullptr, nullptr));
}

struct TextCase {
    const char* name;
    const char* content;         // inside <e>...</e>
    const wchar_t* firstName;    // name of e's first child, null for none
    const wchar_t* text;         // its text
};

class TextRules : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextRules, FollowTheChunksTheParserDelivers)
{
    const TextCase& c = GetParam();
    CTzrXMLReader r;
    ASSERT_EQ(0u, Load(r, std::string("<e>") + c.content + "</e>"));
    const CTzrXMLNode* e = Root(r);
    ASSERT_NE(nullptr, e);
    if (!c.firstName) {
        EXPECT_EQ(nullptr, e->m_pFirstChild);
        EXPECT_EQ(nullptr, TzrElementText(e));
        return;
    }
    ASSERT_NE(nullptr, e->m_pFirstChild);
    EXPECT_STREQ(c.firstName, e->m_pFirstChild->GetName());
    if (c.text) {
        EXPECT_EQ(CTzrXMLNode::kText, e->m_pFirstChild->m_nType);
        EXPECT_STREQ(c.text, TzrElementText(e));
    } else {
        EXPECT_EQ(nullptr, TzrElementText(e));
    }
}

INSTANTIATE_TEST_SUITE_P(
    TzrXMLReader, TextRules,
    ::testing::Values(
        TextCase{"plain", "Hello world", L"#TEXT", L"Hello world"},
        TextCase{"cdata_after_layout", "\r\n    <![CDATA[  keep\n  all <b>this</b>\n]]>\n  ", L"#CDATA",
                 L"  keep\n  all <b>this</b>\n"},
        // Only XML's own white space is layout: a Japanese name may open with
        // an ideographic space, a line with a no-break space.
        TextCase{"ideographic_space_first", "\xE3\x80\x80\xE5\x90\x8D", L"#TEXT", L"\u3000\u540D"},
        TextCase{"no_break_space_line", "one\n\xC2\xA0two", L"#TEXT", L"one\u00A0two"},
        TextCase{"leading_blank", " text", nullptr, nullptr},
        TextCase{"leading_tab", "\ttext", nullptr, nullptr},
        TextCase{"multi_line", "first\nsecond\n  indented\nthird\n", L"#TEXT", L"firstsecondthird"},
        TextCase{"crlf_lines", "one\r\ntwo\r\n", L"#TEXT", L"onetwo"},
        // A reference starts a new chunk, so a blank after it starts one too.
        TextCase{"entity_then_blank", "a &amp; b", L"#TEXT", L"a &"},
        TextCase{"entity_then_letter", "x&lt;y", L"#TEXT", L"x<y"},
        TextCase{"char_ref", "&#x41;BC", L"#TEXT", L"ABC"},
        TextCase{"text_then_cdata", "lead<![CDATA[section]]>", L"#TEXT", L"lead"},
        TextCase{"cdata_then_text", "<![CDATA[section]]>after", L"#CDATA", L"section"},
        TextCase{"empty_cdata", "<![CDATA[]]>", L"#CDATA", L""},
        TextCase{"child_first", "<c/>text", L"c", nullptr},
        TextCase{"empty", "", nullptr, nullptr}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(TzrXMLReader, TextAfterAChildGoesToTheLastTextNode)
{
    CTzrXMLReader r;
    ASSERT_EQ(0u, Load(r, "<e><c>inner</c>tail<d/>more</e>"));
    const CTzrXMLNode* c = r.FindChild(Root(r), L"c");
    ASSERT_NE(nullptr, c);
    EXPECT_STREQ(L"innertail", TzrElementText(c));
    const CTzrXMLNode* d = r.FindChild(Root(r), L"d");
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(nullptr, d->m_pFirstChild);
    EXPECT_EQ(nullptr, TzrElementText(Root(r)));
}

TEST(TzrXMLReader, AttributesKeepTheirOrderAndExactNames)
{
    CTzrXMLReader r;
    ASSERT_EQ(0u, Load(r, "<e b='2' a='1' A='3' empty='' amp='x&amp;y'/>"));
    const CTzrXMLNode* e = Root(r);
    EXPECT_EQ(5u, e->GetAttributeCount());
    ASSERT_NE(nullptr, e->m_ppszAttributes);
    EXPECT_STREQ(L"b", e->m_ppszAttributes[0]);
    EXPECT_STREQ(L"2", e->m_ppszAttributes[1]);
    EXPECT_STREQ(L"a", e->m_ppszAttributes[2]);
    EXPECT_EQ(nullptr, e->m_ppszAttributes[10]);
    EXPECT_STREQ(L"1", e->GetAttribute(L"a"));
    EXPECT_STREQ(L"3", e->GetAttribute(L"A"));
    EXPECT_STREQ(L"", e->GetAttribute(L"empty"));
    EXPECT_STREQ(L"x&y", e->GetAttribute(L"amp"));
    EXPECT_EQ(nullptr, e->GetAttribute(L"c"));
    EXPECT_EQ(nullptr, e->GetAttribute(nullptr));

    ASSERT_EQ(0u, Load(r, "<e/>"));
    EXPECT_EQ(0u, Root(r)->GetAttributeCount());
    EXPECT_EQ(nullptr, Root(r)->m_ppszAttributes);
}

TEST(TzrXMLReader, EncodingsGiveTheSameUtf16)
{
    // Japanese name and a character outside the basic plane (a surrogate pair).
    const std::wstring text = L"\u30C7\u30D0\u30A4\u30B9 \U0001F600";
    const std::wstring doc = L"<n lang='ja' v='\u00E9'>" + text + L"</n>";
    const std::string utf8 = Narrow(doc);
    const std::wstring declared = L"<?xml version='1.0' encoding='UTF-16'?>" + doc;
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"utf8", utf8},
        {"utf8_bom", "\xEF\xBB\xBF" + utf8},
        {"utf16le_bom", Utf16Le(doc, true)},
        {"utf16be_bom", Utf16Be(doc)},
        {"utf16le_declared", Utf16Le(declared, false)},
        // Without a byte-order mark the parser tells UTF-16 by its NUL bytes.
        {"utf16le_without_bom", Utf16Le(L"\r\n" + doc, false)},
        {"utf16be_without_bom", Utf16Be(L"\n" + doc).substr(2)},
    };
    for (const Case& c : cases) {
        CTzrXMLReader r;
        ASSERT_EQ(0u, Load(r, c.bytes)) << c.name;
        ASSERT_NE(nullptr, Root(r)) << c.name;
        EXPECT_EQ(text, std::wstring(TzrElementText(Root(r)))) << c.name;
        EXPECT_STREQ(L"\u00E9", Root(r)->GetAttribute(L"v")) << c.name;
    }
    // The pair arrives as two code units.
    CTzrXMLReader r;
    ASSERT_EQ(0u, Load(r, utf8));
    const std::wstring got = TzrElementText(Root(r));
    ASSERT_EQ(7u, got.size());
    EXPECT_EQ(0xD83D, got[5]);
    EXPECT_EQ(0xDE00, got[6]);
}

TEST(TzrXMLReader, LoadCodesForBadInput)
{
    struct Case {
        const char* name;
        std::string bytes;
        unsigned code;
    } cases[] = {
        {"empty", "", 5},
        {"truncated", "<tzr_package><name>", 5},
        {"not_xml", "this is not XML at all", 5},
        {"binary", std::string("\x00\x01\x02\xFF\xFE\x00", 6), 5},
        {"two_roots", "<a/><b/>", 5},
        {"mismatched", "<a></b>", 5},
        // UTF-16 that says it is UTF-8.
        {"utf16_declared_utf8", Utf16Le(L"<?xml version='1.0' encoding='UTF-8'?><a/>", false), 5},
        {"unknown_encoding", "<?xml version='1.0' encoding='X-NONE'?><a/>", 5},
    };
    for (const Case& c : cases) {
        CTzrXMLReader r;
        EXPECT_EQ(c.code, Load(r, c.bytes)) << c.name;
        EXPECT_FALSE(r.m_bLoaded) << c.name;
        EXPECT_EQ(nullptr, r.FindChild(nullptr, L"tzr_package")) << c.name;
        EXPECT_EQ(nullptr, r.FindChild(nullptr, L"a")) << c.name;
    }
}

TEST(TzrXMLReader, EntityBombIsRefusedButPlainEntitiesWork)
{
    std::string bomb = "<!DOCTYPE p [<!ENTITY e0 'lollollollollollollollollollol'>";
    for (int i = 1; i < 10; ++i) {
        bomb += "<!ENTITY e" + std::to_string(i) + " '";
        for (int k = 0; k < 10; ++k)
            bomb += "&e" + std::to_string(i - 1) + ";";
        bomb += "'>";
    }
    bomb += "]><p><![CDATA[x]]>&e9;</p>";
    const DWORD start = GetTickCount();
    CTzrXMLReader r;
    EXPECT_EQ(5u, Load(r, bomb));
    EXPECT_FALSE(r.m_bLoaded);
    EXPECT_LT(GetTickCount() - start, 20000u);

    ASSERT_EQ(0u, Load(r, "<!DOCTYPE p [<!ENTITY co 'Acme'>]><p a='&co;'>&co;Tools</p>"));
    EXPECT_STREQ(L"AcmeTools", TzrElementText(Root(r)));
    EXPECT_STREQ(L"Acme", Root(r)->GetAttribute(L"a"));
}

TEST(TzrXMLReader, DocumentsThatExpandFarBeyondTheirSizeAreRefused)
{
    for (const xmltest::ExpansionCase& c : xmltest::ExpansionCases()) {
        const DWORD start = GetTickCount();
        CTzrXMLReader r;
        EXPECT_EQ(c.refused ? 5u : 0u, Load(r, c.doc)) << c.label;
        if (c.why) {
            EXPECT_NE(nullptr, wcsstr(r.Why(), Widen(c.why).c_str())) << c.label << ": " << Narrow(r.Why());
        }
        EXPECT_LT(GetTickCount() - start, 10000u) << c.label;
        if (!c.refused) {
            ASSERT_NE(nullptr, Root(r)) << c.label;
            EXPECT_STREQ(L"p", Root(r)->GetName()) << c.label;
        }
    }
}

TEST(TzrXMLReader, LoadFileCodes)
{
    CTzrXMLReader r;
    WriteFileBytes(L"reader_empty.xml", "");
    EXPECT_EQ(5u, r.LoadFile(L"reader_empty.xml"));
    EXPECT_FALSE(r.m_bLoaded);
    DeleteFileW(L"reader_missing.xml");
    EXPECT_EQ(3u, r.LoadFile(L"reader_missing.xml"));
    EXPECT_EQ(3u, r.LoadFile(nullptr));
    CreateDirectoryW(L"reader_dir.xml", nullptr);
    EXPECT_NE(0u, r.LoadFile(L"reader_dir.xml"));
    EXPECT_FALSE(r.m_bLoaded);

    // A file held open for writing without read sharing cannot be opened.
    WriteFileBytes(L"reader_locked.xml", "<a/>");
    UniqueHandle locked(CreateFileW(L"reader_locked.xml", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked.valid());
    EXPECT_EQ(3u, r.LoadFile(L"reader_locked.xml"));
    locked.reset();
    EXPECT_EQ(0u, r.LoadFile(L"reader_locked.xml"));
    EXPECT_TRUE(r.m_bLoaded);
}

TEST(TzrXMLReader, NoLargerThanAPackageDefinitionMayBe)
{
    for (const unsigned long long size : {kXmlMaximumFileBytes, kXmlMaximumFileBytes + 1}) {
        WriteFileBytes(L"reader_size.xml", "<a>" + std::string(size - 7, 'x') + "</a>");
        const bool fits = size == kXmlMaximumFileBytes;
        CTzrXMLReader r;
        EXPECT_EQ(fits ? 0u : 6u, r.LoadFile(L"reader_size.xml")) << size;
        EXPECT_STREQ(fits ? L"" : L"16777217 bytes, more than the 16777216 a package definition may have", r.Why());
    }
    DeleteFileW(L"reader_size.xml");
}

TEST(TzrXMLReader, ReloadingReplacesTheTree)
{
    WriteFileBytes(L"reader_one.xml", "<one><x>1</x></one>");
    WriteFileBytes(L"reader_two.xml", "<two/>");
    CTzrXMLReader r;
    ASSERT_EQ(0u, r.LoadFile(L"reader_one.xml"));
    EXPECT_NE(nullptr, r.FindChild(nullptr, L"one"));
    ASSERT_EQ(0u, r.LoadFile(L"reader_two.xml"));
    EXPECT_EQ(nullptr, r.FindChild(nullptr, L"one"));
    EXPECT_NE(nullptr, r.FindChild(nullptr, L"two"));
    EXPECT_EQ(nullptr, r.m_pRoot->m_pFirstChild->m_pNext);
    // A failed load leaves nothing to find, not the previous tree.
    EXPECT_EQ(3u, r.LoadFile(L"reader_none.xml"));
    EXPECT_EQ(nullptr, r.FindChild(nullptr, L"two"));
    CTzrXMLNode* fresh = r.Reset();
    EXPECT_EQ(fresh, r.m_pRoot);
    EXPECT_EQ(nullptr, fresh->m_pFirstChild);
    EXPECT_FALSE(r.m_bLoaded);
}

TEST(TzrXMLReader, NodesCopyWhatTheyAreGiven)
{
    std::wstring name = L"elem";
    std::wstring attrName = L"k", attrValue = L"v";
    const wchar_t* attributes[] = {attrName.c_str(), attrValue.c_str(), nullptr};
    CTzrXMLNode node(name.c_str(), attributes, CTzrXMLNode::kElement);
    name[0] = attrName[0] = attrValue[0] = L'X';
    EXPECT_STREQ(L"elem", node.GetName());
    EXPECT_STREQ(L"v", node.GetAttribute(L"k"));
    EXPECT_EQ(nullptr, node.GetText());
    const wchar_t chars[] = L"abcdef";
    ASSERT_TRUE(node.SetText(chars, 3));
    EXPECT_STREQ(L"abc", node.GetText());
    ASSERT_TRUE(node.AppendText(chars + 3, 3));
    EXPECT_STREQ(L"abcdef", node.GetText());
    ASSERT_TRUE(node.SetText(chars, 0));
    EXPECT_STREQ(L"", node.GetText());
}

TEST(TzrXMLReader, LargeDocumentsNeedNoStack)
{
    // Many siblings and deep nesting are destroyed without recursion.
    std::string wide = "<p>";
    for (int i = 0; i < 200000; ++i)
        wide += "<c/>";
    wide += "</p>";
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<d>";
    for (int i = 0; i < 100000; ++i)
        deep += "</d>";
    {
        CTzrXMLReader r;
        ASSERT_EQ(0u, Load(r, wide));
        ASSERT_EQ(0u, Load(r, deep));
        unsigned depth = 0;
        for (const CTzrXMLNode* n = Root(r); n; n = n->m_pFirstChild)
            ++depth;
        EXPECT_EQ(100000u, depth);
    }
    // A long multi-line section is kept whole.
    std::string lines = "<e><![CDATA[";
    for (int i = 0; i < 100000; ++i)
        lines += "  line\n";
    lines += "]]></e>";
    CTzrXMLReader r;
    ASSERT_EQ(0u, Load(r, lines));
    EXPECT_EQ(700000u, std::wstring(TzrElementText(Root(r))).size());
}

TEST(TzrXMLReader, CompareNoCaseFoldsAsciiOnly)
{
    EXPECT_EQ(0, TzrCompareNoCase(L"Fr", L"fR"));
    EXPECT_NE(0, TzrCompareNoCase(L"fr", L"fr-FR"));
    EXPECT_NE(0, TzrCompareNoCase(L"\u00E9", L"\u00C9"));
    EXPECT_EQ(0, TzrCompareNoCase(nullptr, nullptr));
    EXPECT_LT(TzrCompareNoCase(nullptr, L""), 0);
}

// An entity may hold a predefined entity: a vendor name with an ampersand.
// The attribute arrives whole; the text follows the chunk rule (the parser
// cuts at the reference, and the piece " Sons" begins with a blank).
TEST(TzrXMLReader, EntityHoldingAnAmpersandIsRead)
{
    CTzrXMLReader r;
    ASSERT_EQ(0u, Load(r, "<!DOCTYPE tzr_package [<!ENTITY co 'Smith &amp; Sons'>]>"
                          "<tzr_package vendor='&co;'><name>&co;</name></tzr_package>"));
    ASSERT_NE(nullptr, Root(r));
    EXPECT_STREQ(L"Smith & Sons", Root(r)->GetAttribute(L"vendor"));
    EXPECT_STREQ(L"Smith &", TzrElementText(r.FindChild(Root(r), L"name", nullptr, nullptr)));
}

// Nothing outside the document is ever read: external entities and
// parameter entities are skipped, whatever they name.
TEST(TzrXMLReader, ExternalEntitiesAreNeverRead)
{
    WriteFileBytes(L"outside.txt", "OUTSIDE");
    WriteFileBytes(L"outside.dtd", "<!ENTITY leak 'OUTSIDE'>");
    for (const std::string& doc : xmltest::ExternalEntityCases()) {
        CTzrXMLReader r;
        ASSERT_EQ(0u, Load(r, doc)) << doc;
        ASSERT_NE(nullptr, Root(r)) << doc;
        EXPECT_EQ(nullptr, Root(r)->m_pFirstChild) << doc;  // no text at all
    }
    DeleteFileW(L"outside.txt");
    DeleteFileW(L"outside.dtd");
}
