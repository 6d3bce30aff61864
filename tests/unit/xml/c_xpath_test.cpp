#include "c_xpath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml_test_files.h"

using xmltest::NestedDoc;
using xmltest::WriteDoc;

namespace {

// The steps of a compiled path, one word each: root, wild, tag(name), with a
// predicate as [attr(name)] or [val(name=value)].
std::string Describe(const C_XPath& path) {
    std::string out;
    for (size_t i = 0; i < path.stepCount(); ++i) {
        const C_XPath::C_Match* step = path.step(i);
        if (!out.empty()) out += ' ';
        if (dynamic_cast<const C_MatchRoot*>(step)) out += "root";
        if (dynamic_cast<const C_MatchWild*>(step)) out += "wild";
        if (auto tag = dynamic_cast<const C_MatchTag*>(step)) out += "tag(" + tag->m_sTag + ")";
        EXPECT_EQ(step->m_pOwner, &path);
        const C_XPath::C_Match* pred = step->m_pPredicate.get();
        if (auto attr = dynamic_cast<const C_MatchAttr*>(pred)) out += "[attr(" + attr->m_sName + ")]";
        if (auto val = dynamic_cast<const C_MatchAttrVal*>(pred))
            out += "[val(" + val->m_sName + "=" + val->m_sValue + ")]";
    }
    return out;
}

const char kPackage[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<tzr_package>\n"
    "  <version value=\"1.0.15\" build=\"7\"/>\n"
    "  <alt_name>\n"
    "    <alt_name_xlate lang=\"en\">First name</alt_name_xlate>\n"
    "    <alt_name_xlate lang=\"fr\">Second name</alt_name_xlate>\n"
    "  </alt_name>\n"
    "  <a><b>in a without id</b></a>\n"
    "  <a id=\"1\"><b>in a1</b></a>\n"
    "  <a id=\"7\"><b>in a7</b><x><c>c under a7/x</c></x></a>\n"
    "  <a id=\"X\"><b>in aX</b></a>\n"
    "  <w><c>c under w</c></w>\n"
    "  <Case>upper</Case>\n"
    "</tzr_package>\n";

// Collects every match, or stops after a limit.
class CollectAll : public C_Found {
public:
    explicit CollectAll(size_t limit = 0) : m_nLimit(limit) {}
    bool found(const C_XML&, const C_XML::C_Node* node) override {
        std::string text;
        C_XML::getText(node, &text);
        m_vTexts.push_back(std::string(node->name()) + ":" + text);
        return m_nLimit == 0 || m_vTexts.size() < m_nLimit;
    }
    size_t m_nLimit;
    std::vector<std::string> m_vTexts;
};

class CXPathOnPackage : public ::testing::Test {
protected:
    void SetUp() override {
        m_xml.setTrimWhitespace(true);
        ASSERT_TRUE(m_xml.load(WriteDoc("package.xml", kPackage))) << m_xml.lastError();
    }
    std::vector<std::string> All(const std::string& expression, size_t limit = 0) {
        C_XPath path;
        EXPECT_TRUE(path.compile(expression));
        CollectAll all(limit);
        path.walk(m_xml, all);
        return all.m_vTexts;
    }
    C_XML m_xml;
};

}  // namespace

TEST(CXPathCompile, StepsAndLenientReading) {
    const struct {
        std::string expression;
        const char* steps;
    } cases[] = {
        {"/", "root"},
        {" / ", "root"},
        {"", "tag( )"},  // a name at the end of the expression is a blank
        {"   ", "tag( )"},
        {"/a/b", "root tag(a) tag(b)"},
        {" / a / b ", "root tag(a) tag(b)"},
        {"\t/\na\v/\fb\r", "root tag(a) tag(b)"},
        {"a/b", "tag(a) tag(b)"},
        {"*/a", "wild tag(a)"},
        {"/a/*/c", "root tag(a) wild tag(c)"},
        {"/*abc/d", "root wild"},
        {"/a//b", "root tag(a) tag(/b)"},
        {"//", "root tag(/)"},
        {"/a/", "root tag(a) tag( )"},
        {"/a/b c/d", "root tag(a) tag(b)"},
        {"/a-b_c.d9/e", "root tag(a-b_c.d9) tag(e)"},
        {"/ab\xC3\xA9/c", "root tag(ab)"},
        {std::string("/ab\0c/d", 7), "root tag(ab)"},
        {"/[@id]", "root tag([)"},
        {"/a[@id]/b", "root tag(a)[attr(id)] tag(b)"},
        {"/a [ @ id = '7' ] / b", "root tag(a)[val(id=7)] tag(b)"},
        {"/a[@id=\"7\"]", "root tag(a)[val(id=7)]"},
        {"/a[@id=|x y|]/b", "root tag(a)[val(id=x y)] tag(b)"},
        {"/a[@id='it''s']", "root tag(a)[val(id=it)]"},
        {"/a[@id='7", "root tag(a)[val(id=7)]"},
        {"/a[@id=", "root tag(a)[val(id=)]"},
        {"/a[", "root tag(a)[attr( )]"},
        {"/a[id]", "root tag(a)[attr(d)]"},
        {"/a[@id='7'/b", "root tag(a)[val(id=7)]"},
        {"/a[@id][@x]/b", "root tag(a)[attr(id)]"},
        {"/*[@id]/b", "root wild[attr(id)] tag(b)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("expression '" + c.expression + "'");
        C_XPath path;
        EXPECT_TRUE(path.compile(c.expression));
        EXPECT_EQ(Describe(path), c.steps);
        EXPECT_TRUE(path.isLastStep(path.stepCount() - 1));
    }
}

TEST(CXPathCompile, RecompileReplacesTheSteps) {
    C_XPath path;
    path.compile("/a/b/c");
    path.compile("x");
    EXPECT_EQ(Describe(path), "tag(x)");
}

TEST(CXPathCompile, MatcherKinds) {
    C_XPath owner;
    EXPECT_EQ(C_MatchRoot(&owner).kind(), 4);
    EXPECT_EQ(C_MatchWild(&owner).kind(), 4);
    EXPECT_EQ(C_MatchTag(&owner, "a").kind(), 4);
    EXPECT_EQ(C_MatchAttr(&owner, "a").kind(), 3);
    EXPECT_EQ(C_MatchAttrVal(&owner, "a", "b").kind(), 3);
}

TEST_F(CXPathOnPackage, SelectText) {
    const struct {
        const char* path;
        bool found;
        const char* text;  // when found
    } cases[] = {
        {"/tzr_package/alt_name/alt_name_xlate", true, "First name"},
        {"/tzr_package/Case", true, "upper"},
        {"/tzr_package/case", false, nullptr},
        {"/TZR_PACKAGE/Case", false, nullptr},
        {"tzr_package/Case", false, nullptr},  // relative: tested on the document node itself
        {"*/tzr_package/Case", true, "upper"},
        {"/*/Case", true, "upper"},
        {"/tzr_package/*/c", true, "c under w"},
        {"/tzr_package/a/*/c", true, "c under a7/x"},
        {"/tzr_package/a/b", true, "in a without id"},
        {"/tzr_package/a[@id]/b", true, "in a1"},
        {"/tzr_package/a[@id='7']/b", true, "in a7"},
        {" / tzr_package / a [ @ id = \"7\" ] / b ", true, "in a7"},
        {"/tzr_package/a[@id='x']/b", false, nullptr},
        {"/tzr_package/a[@id='X']/b", true, "in aX"},
        {"/tzr_package/a[@id='9']/b", false, nullptr},
        {"/tzr_package/a[@ID]/b", false, nullptr},
        {"/tzr_package/a[id='7']/b", false, nullptr},  // the "i" stands in for the at sign
        {"/tzr_package/a[@id]/x/c", true, "c under a7/x"},  // the predicate holds where the rest matches
        {"/tzr_package//version", false, nullptr},
        {"/tzr_package/alt_name!/alt_name_xlate", true, ""},  // cut at "!": alt_name itself
        {"/tzr_package/alt_name\xC3\xA9/alt_name_xlate", true, ""},
        {"/tzr_package/missing", false, nullptr},
        {"", false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("path '") + c.path + "'");
        std::string out = "unchanged";
        EXPECT_EQ(m_xml.selectText(c.path, out), c.found);
        EXPECT_EQ(out, c.found ? c.text : "unchanged");
    }
}

TEST_F(CXPathOnPackage, SelectAttributeAndNode) {
    std::string out = "unchanged";
    EXPECT_TRUE(m_xml.selectAttribute("/tzr_package/version", "value", out));
    EXPECT_EQ(out, "1.0.15");
    out = "unchanged";
    EXPECT_TRUE(m_xml.selectAttribute("/tzr_package/version", "missing", out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(m_xml.selectAttribute("/tzr_package/alt_name/alt_name_xlate", "lang", out));
    EXPECT_EQ(out, "en");
    out = "unchanged";
    EXPECT_FALSE(m_xml.selectAttribute("/tzr_package/versions", "value", out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(m_xml.selectAttribute(std::string("/tzr_package/version\0/x", 22), "build", out));
    EXPECT_EQ(out, "7");

    EXPECT_EQ(m_xml.selectNode("/"), m_xml.document());
    EXPECT_EQ(m_xml.selectNode("*"), m_xml.document());
    EXPECT_EQ(m_xml.selectNode(""), nullptr);
    const C_XML::C_Node* a = m_xml.selectNode("/tzr_package/a[@id][@x]/b");  // the second "[" ends it
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->name(), "a");
    EXPECT_TRUE(C_XML::getAttribute(a, "id", &out));
    EXPECT_EQ(out, "1");
    a = m_xml.selectNode("/tzr_package/a[@id='7'/b");  // "/" read as the closing bracket
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(C_XML::getAttribute(a, "id", &out));
    EXPECT_EQ(out, "7");
}

TEST_F(CXPathOnPackage, WalkVisitsMatchesInDocumentOrder) {
    EXPECT_EQ(All("/tzr_package/a/b"),
              (std::vector<std::string>{"b:in a without id", "b:in a1", "b:in a7", "b:in aX"}));
    EXPECT_EQ(All("/tzr_package/a[@id]/b"), (std::vector<std::string>{"b:in a1", "b:in a7", "b:in aX"}));
    EXPECT_EQ(All("/tzr_package/a/b", 2), (std::vector<std::string>{"b:in a without id", "b:in a1"}));
    EXPECT_EQ(All("/tzr_package/*/c"), (std::vector<std::string>{"c:c under w"}));
    EXPECT_EQ(All("/*/*/*/c"), (std::vector<std::string>{"c:c under a7/x"}));
    EXPECT_EQ(All("/tzr_package/alt_name/alt_name_xlate"),
              (std::vector<std::string>{"alt_name_xlate:First name", "alt_name_xlate:Second name"}));
    // A predicate needs the rest of the path below its node: only a7 has x/c.
    EXPECT_EQ(All("/tzr_package/*[@id]/x/c"), (std::vector<std::string>{"c:c under a7/x"}));
    EXPECT_TRUE(All("/tzr_package/*[@id]/nothing").empty());
}

TEST(CXPath, EmptyOrUnloadedDocument) {
    C_XML xml;
    std::string out = "unchanged";
    EXPECT_FALSE(xml.selectText("/tzr_package/version", out));
    EXPECT_FALSE(xml.selectAttribute("/tzr_package/version", "value", out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_EQ(xml.selectNode("/"), xml.document());
    C_XPath uncompiled;
    CollectAll all;
    uncompiled.walk(xml, all);
    EXPECT_TRUE(all.m_vTexts.empty());
}

TEST(CXPath, PathsAsDeepAsTheDocument) {
    const size_t depth = 100000;
    C_XML xml;
    ASSERT_TRUE(xml.load(WriteDoc("deep_path.xml", NestedDoc(depth))));
    std::string path;
    path.reserve(depth * 2);
    for (size_t i = 0; i < depth; ++i) path += "/a";
    const C_XML::C_Node* deepest = xml.selectNode(path);
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(C_XML::firstChild(deepest), nullptr);
    EXPECT_EQ(xml.selectNode(path + "/a"), nullptr);
    std::string wild = "*";
    for (size_t i = 0; i < depth; ++i) wild += "/*[@none]";
    EXPECT_EQ(xml.selectNode(wild), nullptr);
}
