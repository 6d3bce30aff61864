#include "c_xml.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "expansion_cases.h"
#include "xml_test_files.h"

using xmltest::ChildCount;
using xmltest::NestedDoc;
using xmltest::NodeAt;
using xmltest::RemoveDoc;
using xmltest::WriteDoc;

namespace {

struct TextCase {
    const char* label;
    bool trim;
    std::string doc;
    std::vector<const char*> path;  // children from the document node
    std::string text;
    bool hasCdata;
};

const C_XML::C_Node* Walk(const C_XML& xml, const std::vector<const char*>& names) {
    const C_XML::C_Node* node = xml.document();
    for (const char* name : names) node = C_XML::findChild(node, name);
    return node;
}

std::string Utf16(const std::u16string& text, bool bigEndian, bool bom = true) {
    std::string bytes;
    const std::u16string withBom = (bom ? u"\uFEFF" : u"") + text;
    for (char16_t c : withBom) {
        const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        bytes += bigEndian ? hi : lo;
        bytes += bigEndian ? lo : hi;
    }
    return bytes;
}

}  // namespace

TEST(CXmlLoad, TextsFollowTheWhiteSpaceRules) {
    const TextCase cases[] = {
        {"indentation between elements goes", true, "<a>\n  <b>x</b>\n  <c>y</c>\n</a>", {"a"}, "", false},
        {"child text intact", true, "<a>\n  <b>x</b>\n  <c> y </c>\n</a>", {"a", "c"}, " y ", false},
        {"blanks alone are kept", true, "<a>   </a>", {"a"}, "   ", false},
        {"blanks and a child end empty", true, "<a>  <b/>  </a>", {"a"}, "", false},
        {"blanks before a child only", true, "<a>  <b/></a>", {"a"}, "", false},
        {"CDATA of blanks is kept", true, "<a><![CDATA[   ]]></a>", {"a"}, "   ", true},
        {"CDATA with indentation around", true, "<a>\n  <![CDATA[ x ]]>\n</a>", {"a"}, " x ", true},
        {"CDATA protects later blanks", true, "<a><![CDATA[ ]]><b/>  </a>", {"a"}, " ", true},
        {"mixed content joined", true, "<a>one <b>two</b> three</a>", {"a"}, "one  three", false},
        {"blank pieces after a child dropped", true, "<a>one<b/>\n  <c/>two</a>", {"a"}, "onetwo", false},
        {"pieces judged one by one", true, "<a><b/>\n  tail\n</a>", {"a"}, "  tail", false},
        {"text before a child is kept whole", true, "<a>\n lead\n<b/></a>", {"a"}, "\n lead\n", false},
        {"trim off keeps everything", false, "<a>\n  <b/>\n</a>", {"a"}, "\n  \n", false},
        {"trim off keeps blanks after CDATA", false, "<a><![CDATA[x]]>  </a>", {"a"}, "x  ", true},
        {"CRLF normalised by the parser", true, "<a>x\r\ny\rz</a>", {"a"}, "x\ny\nz", false},
        {"references resolved", true, "<a>&lt;b&gt; &amp; &#x41;</a>", {"a"}, "<b> & A", false},
        {"UTF-8 bytes as they are", true, "<a>caf\xC3\xA9</a>", {"a"}, "caf\xC3\xA9", false},
        {"latin-1 declared, UTF-8 delivered", true,
         "<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xE9</a>", {"a"}, "caf\xC3\xA9", false},
        {"UTF-8 byte-order mark", true, "\xEF\xBB\xBF<a>x</a>", {"a"}, "x", false},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string file = WriteDoc("text_case.xml", c.doc);
        C_XML xml;
        xml.setTrimWhitespace(c.trim);
        ASSERT_TRUE(xml.load(file)) << xml.lastError();
        const C_XML::C_Node* node = Walk(xml, c.path);
        ASSERT_NE(node, nullptr);
        std::string text = "unchanged";
        EXPECT_TRUE(C_XML::getText(node, &text));
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(C_XML::hasCdata(node), c.hasCdata);
    }
}

// A long blank run in a parent that then holds many children: every child
// start trims the parent again. The texts must come out as for any other
// document, whatever was learnt about the run at the earlier trims.
TEST(CXmlLoad, LongBlankRunBeforeManyChildren) {
    const std::string blanks(64 * 1024, ' ');
    auto children = [](const std::string& between) {
        std::string out;
        for (int i = 0; i < 2000; ++i) out += "<c>" + std::to_string(i) + "</c>" + between;
        return out;
    };
    const struct {
        const char* label;
        std::string doc;
        std::string text;
    } cases[] = {
        {"one other byte at the end of the run", "<p>" + blanks + "x" + children("\n  ") + "</p>", blanks + "x"},
        {"one other byte at its start", "<p>x" + blanks + children("") + "</p>", "x" + blanks},
        {"the run alone goes at the first child", "<p>" + blanks + children("\n  ") + "</p>", ""},
        {"a run in lines goes too", "<p>\n" + blanks + "\n\t" + children(" ") + "</p>", ""},
        {"text between the children joins", "<p>" + blanks + "x" + children("y") + "</p>",
         blanks + "x" + std::string(2000, 'y')},
        {"text after the emptied run starts afresh", "<p>" + blanks + "<c/>z" + children("\n") + "</p>", "z"},
    };
    for (const auto& c : cases) {
        C_XML xml;
        xml.setTrimWhitespace(true);
        ASSERT_TRUE(xml.load(WriteDoc("blank_run.xml", c.doc))) << c.label << ": " << xml.lastError();
        const C_XML::C_Node* p = NodeAt(xml, {"p"});
        ASSERT_NE(p, nullptr) << c.label;
        EXPECT_EQ(c.text, std::string(p->text())) << c.label;
        const C_XML::C_Node* last = C_XML::firstChild(p);
        while (C_XML::nextSibling(last) != nullptr) last = C_XML::nextSibling(last);
        EXPECT_EQ("1999", std::string(last->text())) << c.label;
    }
    RemoveDoc("blank_run.xml");
}

// The parser hands text over as the 4,096-byte reads fall; what is kept of a
// line after a child must be the same wherever they fall in it.
TEST(CXmlLoad, TextAfterAChildDoesNotDependOnTheReads) {
    for (size_t cut = 0; cut <= 7; ++cut) {
        const std::string doc = "<a><b>" + std::string(4096 - 10 - cut, 'f') + "</b>  xyz  \n  <c/></a>";
        C_XML xml;
        xml.setTrimWhitespace(true);
        ASSERT_TRUE(xml.load(WriteDoc("read_cut.xml", doc))) << xml.lastError();
        EXPECT_EQ("  xyz  ", std::string(NodeAt(xml, {"a"})->text())) << "cut " << cut;
    }
    RemoveDoc("read_cut.xml");
}

// A parent's text grows piece by piece while its children get texts of
// their own in between: no piece may land in the wrong node.
TEST(CXmlLoad, InterleavedTextsStayApart) {
    std::string doc = "<a>";
    std::string parentText;
    for (int i = 0; i < 3000; ++i) {
        const std::string piece = "p" + std::to_string(i) + ";";
        doc += piece + "<b>c" + std::to_string(i) + "</b>";
        parentText += piece;
    }
    doc += "</a>";
    C_XML xml;
    xml.setTrimWhitespace(true);
    ASSERT_TRUE(xml.load(WriteDoc("interleaved.xml", doc)));
    const C_XML::C_Node* a = NodeAt(xml, {"a"});
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(std::string(a->text()), parentText);
    int i = 0;
    for (const C_XML::C_Node* b = C_XML::firstChild(a); b != nullptr; b = C_XML::nextSibling(b), ++i) {
        ASSERT_EQ(std::string(b->text()), "c" + std::to_string(i));
    }
    EXPECT_EQ(i, 3000);
}

// Equal short texts are stored once; a text that grows afterwards must not
// change the others.
TEST(CXmlLoad, SharedTextsGrowApart) {
    C_XML xml;
    xml.setTrimWhitespace(true);
    ASSERT_TRUE(xml.load(WriteDoc("shared_text.xml",
                                  "<r><a>x</a><b>x<c/>y</b><d>  </d><e>  <f/></e><g>x</g><h>  x</h></r>")));
    const struct {
        const char* node;
        const char* text;
    } expected[] = {{"a", "x"}, {"b", "xy"}, {"d", "  "}, {"e", ""}, {"g", "x"}, {"h", "  x"}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.node);
        const C_XML::C_Node* node = NodeAt(xml, {"r", e.node});
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(std::string(node->text()), e.text);
    }
}

// Names and short values are shared between nodes; many distinct ones (far
// more than are remembered at a time) must each keep their own bytes.
TEST(CXmlLoad, ManyDistinctNamesAndValues) {
    std::string doc = "<r>";
    for (int i = 0; i < 3000; ++i) {
        const std::string n = std::to_string(i);
        doc += "<e" + n + " a" + n + "='v" + n + "' same='x' long='" + std::string(100, 'L') + n + "'/>";
    }
    doc += "</r>";
    C_XML xml;
    ASSERT_TRUE(xml.load(WriteDoc("names.xml", doc)));
    int i = 0;
    for (const C_XML::C_Node* e = C_XML::firstChild(NodeAt(xml, {"r"})); e != nullptr; e = C_XML::nextSibling(e), ++i) {
        const std::string n = std::to_string(i);
        ASSERT_EQ(std::string(e->name()), "e" + n);
        ASSERT_EQ(e->attributes().size(), 3u);
        EXPECT_EQ(std::string(e->attributes()[0].first), "a" + n);
        EXPECT_EQ(std::string(e->attributes()[0].second), "v" + n);
        EXPECT_EQ(std::string(e->attributes()[1].second), "x");
        EXPECT_EQ(std::string(e->attributes()[2].second), std::string(100, 'L') + n);
    }
    EXPECT_EQ(i, 3000);
}

// The chunking of character data is the parser's business; driving the
// callbacks directly pins the rules for a given sequence of pieces.
TEST(CXmlCallbacks, EachPieceIsJudgedAsDelivered) {
    C_XML xml;
    xml.setTrimWhitespace(true);
    C_XML::C_Node root;
    C_XML::C_ParseContext ctx;
    ctx.m_pDocument = &xml;
    ctx.m_pCurrent = &root;
    const char* attrs[] = {"k", "1", "k", "2", "j", "3", nullptr};
    const char* none[] = {nullptr};

    C_XML::startElement(&ctx, "a", attrs);
    C_XML::characterData(&ctx, " \t", 2);
    C_XML::startElement(&ctx, "b", none);  // trims a's blanks
    C_XML::endElement(&ctx, "b");
    C_XML::characterData(&ctx, "\r\n", 2);  // dropped: after an end
    C_XML::characterData(&ctx, " x ", 3);   // kept
    C_XML::characterData(&ctx, "  ", 2);    // the same line as text: kept
    C_XML::characterData(&ctx, "ignored", 0);
    C_XML::startCdataSection(&ctx);
    C_XML::characterData(&ctx, "  ", 2);  // inside CDATA: kept
    C_XML::endCdataSection(&ctx);
    C_XML::characterData(&ctx, "\n", 1);  // after the section: dropped
    C_XML::endElement(&ctx, "a");

    EXPECT_EQ(ctx.m_pCurrent, &root);
    EXPECT_EQ(ctx.m_nStatus, 0);
    const C_XML::C_Node* a = C_XML::firstChild(&root);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(), " x     ");
    EXPECT_TRUE(a->hasCdata());
    ASSERT_EQ(a->attributes().size(), 3u);
    EXPECT_EQ(a->attributes()[0].first, "k");
    EXPECT_EQ(a->attributes()[0].second, "1");
    EXPECT_EQ(a->attributes()[2].first, "j");
    EXPECT_EQ(a->attributes()[2].second, "3");
    std::string value;
    EXPECT_TRUE(C_XML::getAttribute(a, "k", &value));
    EXPECT_EQ(value, "1");  // the first of equal names
    EXPECT_EQ(C_XML::parent(a), &root);
    EXPECT_EQ(C_XML::findChild(a, "b"), C_XML::firstChild(a));

    // Closing the outermost node leaves no current node: later events are ignored.
    C_XML::endElement(&ctx, "root");
    EXPECT_EQ(ctx.m_pCurrent, nullptr);
    C_XML::startElement(&ctx, "late", none);
    C_XML::characterData(&ctx, "late", 4);
    C_XML::startCdataSection(&ctx);
    C_XML::endCdataSection(&ctx);
    C_XML::endElement(&ctx, "late");
    EXPECT_EQ(ChildCount(&root), 1u);
    EXPECT_FALSE(ctx.m_bInCdata);

    // A null context is ignored.
    C_XML::startElement(nullptr, "x", none);
    C_XML::endElement(nullptr, "x");
    C_XML::characterData(nullptr, "x", 1);
    C_XML::startCdataSection(nullptr);
    C_XML::endCdataSection(nullptr);
}

TEST(CXmlLoad, AttributesKeepDocumentOrder) {
    C_XML xml;
    ASSERT_TRUE(xml.load(WriteDoc("attrs.xml", "<a z='1' b=\"2\" m='&amp;\n3'/>")));
    const C_XML::C_Node* a = NodeAt(xml, {"a"});
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->attributes().size(), 3u);
    EXPECT_EQ(a->attributes()[0].first, "z");
    EXPECT_EQ(a->attributes()[1].first, "b");
    EXPECT_EQ(a->attributes()[2].first, "m");
    std::string value = "unchanged";
    EXPECT_TRUE(C_XML::getAttribute(a, std::string("m"), &value));
    EXPECT_EQ(value, "& 3");  // attribute-value normalisation is the parser's
    EXPECT_TRUE(C_XML::getAttribute(a, "b"));
    value = "unchanged";
    EXPECT_FALSE(C_XML::getAttribute(a, "B", &value));
    EXPECT_EQ(value, "unchanged");
    EXPECT_FALSE(C_XML::getAttribute(a, static_cast<const char*>(nullptr), &value));
    EXPECT_FALSE(C_XML::getAttribute(nullptr, "b", &value));
}

TEST(CXmlNodes, NavigationEndsInNull) {
    C_XML xml;
    ASSERT_TRUE(xml.load(WriteDoc("nav.xml", "<r><x>1</x><y>2</y><x>3</x></r>")));
    const C_XML::C_Node* doc = xml.document();
    const C_XML::C_Node* r = C_XML::firstChild(doc);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->name(), "r");
    EXPECT_EQ(C_XML::parent(r), doc);
    EXPECT_EQ(C_XML::parent(doc), nullptr);
    EXPECT_EQ(C_XML::parent(nullptr), nullptr);
    EXPECT_EQ(C_XML::nextSibling(doc), nullptr);
    EXPECT_EQ(C_XML::nextSibling(nullptr), nullptr);
    EXPECT_EQ(C_XML::nextSibling(r), nullptr);  // the only top-level element

    std::vector<std::string> seen;
    for (const C_XML::C_Node* c = C_XML::firstChild(r); c != nullptr; c = C_XML::nextSibling(c)) {
        std::string text;
        C_XML::getText(c, &text);
        seen.push_back(std::string(c->name()) + "=" + text);
        EXPECT_EQ(C_XML::parent(c), r);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"x=1", "y=2", "x=3"}));
    const C_XML::C_Node* x = C_XML::findChild(r, "x");
    EXPECT_EQ(x, C_XML::firstChild(r));
    EXPECT_EQ(C_XML::findChild(r, "X"), nullptr);
    EXPECT_EQ(C_XML::findChild(nullptr, "x"), nullptr);
    EXPECT_EQ(C_XML::firstChild(C_XML::firstChild(x)), nullptr);
    EXPECT_EQ(C_XML::firstChild(nullptr), nullptr);
    EXPECT_FALSE(C_XML::getText(nullptr, nullptr));
    EXPECT_TRUE(C_XML::getText(x, nullptr));
    EXPECT_FALSE(C_XML::hasCdata(nullptr));
}

TEST(CXmlLoad, SecondLoadAddsATopLevelElementAndClearEmpties) {
    C_XML xml;
    ASSERT_TRUE(xml.load(WriteDoc("first.xml", "<one/>")));
    ASSERT_TRUE(xml.load(WriteDoc("second.xml", "<two/>")));
    const C_XML::C_Node* one = C_XML::firstChild(xml.document());
    ASSERT_NE(one, nullptr);
    ASSERT_NE(C_XML::nextSibling(one), nullptr);
    EXPECT_EQ(C_XML::nextSibling(one)->name(), "two");
    xml.clear();
    EXPECT_EQ(C_XML::firstChild(xml.document()), nullptr);
    EXPECT_TRUE(xml.document()->name().empty());
    ASSERT_TRUE(xml.load("second.xml"));
    EXPECT_EQ(ChildCount(xml.document()), 1u);
}

TEST(CXmlLoad, TrimSettingAppliesToTheNextLoad) {
    const std::string file = WriteDoc("trim_toggle.xml", "<a>\n<b/>\n</a>");
    C_XML xml;
    ASSERT_TRUE(xml.load(file));
    xml.setTrimWhitespace(true);
    EXPECT_EQ(C_XML::firstChild(xml.document())->text(), "\n\n");  // built before the change
    ASSERT_TRUE(xml.load(file));
    EXPECT_EQ(C_XML::nextSibling(C_XML::firstChild(xml.document()))->text(), "");
}

struct BadInput {
    const char* label;
    std::string doc;
    std::vector<const char*> present;  // a node that must have been built before the error
};

TEST(CXmlLoad, BadDocumentsFailWithoutHarm) {
    const BadInput cases[] = {
        {"empty file", "", {}},
        {"blanks only", "  \n ", {}},
        {"text without element", "hello", {}},
        {"mismatched tags", "<a><b></a>", {"a", "b"}},
        {"truncated", "<a><b>text", {"a", "b"}},
        {"truncated in a tag", "<a><b att='1", {"a"}},
        {"two top-level elements", "<a/><b/>", {"a"}},
        {"NUL in text", std::string("<a>x\0y</a>", 10), {"a"}},
        {"NUL at the start", std::string("\0<a/>", 5), {}},
        {"control byte 0x1A after the element", "<a/>\x1A", {"a"}},
        {"duplicate attribute", "<a x='1' x='2'/>", {}},
        {"undefined entity", "<a>&nope;</a>", {"a"}},
        {"invalid UTF-8", "<a>\xC3\x28</a>", {"a"}},
        {"UTF-16 declared over UTF-8 bytes", "<?xml version='1.0' encoding='UTF-16'?><a/>", {}},
        {"unknown encoding", "<?xml version='1.0' encoding='x-nothing'?><a/>", {}},
    };
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.label);
        C_XML xml;
        xml.setTrimWhitespace(true);
        EXPECT_FALSE(xml.load(WriteDoc("bad.xml", c.doc)));
        EXPECT_EQ(xml.lastStatus(), 1);
        EXPECT_FALSE(xml.lastError().empty());
        if (!c.present.empty()) {
            const C_XML::C_Node* node = xml.document();
            for (const char* name : c.present) node = C_XML::findChild(node, name);
            EXPECT_NE(node, nullptr);
        }
    }
}

TEST(CXmlLoad, NoLargerThanAPackageDefinitionMayBe) {
    for (const unsigned long long size : {kXmlMaximumFileBytes, kXmlMaximumFileBytes + 1}) {
        C_XML xml;
        const bool fits = size == kXmlMaximumFileBytes;
        EXPECT_EQ(fits, xml.load(WriteDoc("size.xml", "<a>" + std::string(size - 7, 'x') + "</a>"))) << size;
        EXPECT_EQ(fits ? "" : "the file has 16777217 bytes, more than the 16777216 a package definition may have",
                  xml.lastError());
    }
    RemoveDoc("size.xml");
}

TEST(CXmlLoad, MissingFileLeavesTheDocumentEmpty) {
    RemoveDoc("no_such_file.xml");
    C_XML xml;
    EXPECT_FALSE(xml.load("no_such_file.xml"));
    EXPECT_FALSE(xml.load(""));
    EXPECT_FALSE(xml.load("no_such_folder/x.xml"));
    EXPECT_EQ(C_XML::firstChild(xml.document()), nullptr);
    EXPECT_NE(xml.lastError().find("cannot open"), std::string::npos) << xml.lastError();
}

TEST(CXmlLoad, NameWithNulIsNotCutShort) {
    WriteDoc("real.xml", "<a/>");
    C_XML xml;
    EXPECT_FALSE(xml.load(std::string("real.xml\0.bak", 13)));
    EXPECT_EQ(C_XML::firstChild(xml.document()), nullptr);
}

TEST(CXmlLoad, ErrorInTheSecondHalfKeepsTheFirst) {
    // Well past the read size, so the good part is parsed in earlier reads.
    std::string doc = "<r>\n";
    for (int i = 0; i < 2000; ++i) doc += "  <item n='" + std::to_string(i) + "'>v" + std::to_string(i) + "</item>\n";
    doc += "  <broken></r>\n";
    for (int i = 0; i < 500; ++i) doc += "<tail/>";
    C_XML xml;
    xml.setTrimWhitespace(true);
    EXPECT_FALSE(xml.load(WriteDoc("half.xml", doc)));
    const C_XML::C_Node* r = NodeAt(xml, {"r"});
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ChildCount(r), 2001u);  // the items and the unclosed element
    const C_XML::C_Node* last = C_XML::findChild(r, "broken");
    ASSERT_NE(last, nullptr);
    std::string n;
    EXPECT_TRUE(C_XML::getAttribute(C_XML::firstChild(r), "n", &n));
    EXPECT_EQ(n, "0");
}

// Characters whose UTF-16 code units hold the bytes 0x1A or CR LF, which a
// text-mode read would cut or change, must arrive intact.
TEST(CXmlLoad, Utf16DocumentsAreRead) {
    const std::u16string text = u"\u011A\u0D15\n\u1A00\u0D0D\u0A0D";
    const std::u16string doc = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<a k=\"\u011A\">" + text + u"</a>\r\n";
    const std::string utf8 = "\xC4\x9A\xE0\xB4\x95\n\xE1\xA8\x80\xE0\xB4\x8D\xE0\xA8\x8D";
    // Without a byte-order mark the parser knows the byte order from "<".
    for (int variant = 0; variant < 4; ++variant) {
        const bool bigEndian = variant & 1, bom = variant < 2;
        SCOPED_TRACE(std::string(bigEndian ? "big endian" : "little endian") + (bom ? ", mark" : ", no mark"));
        C_XML xml;
        xml.setTrimWhitespace(true);
        ASSERT_TRUE(xml.load(WriteDoc("utf16.xml", Utf16(doc, bigEndian, bom)))) << xml.lastError();
        const C_XML::C_Node* a = NodeAt(xml, {"a"});
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(std::string(a->text()), utf8);
        std::string k;
        EXPECT_TRUE(C_XML::getAttribute(a, "k", &k));
        EXPECT_EQ(k, "\xC4\x9A");
    }
}

TEST(CXmlLoad, DeepNestingNeitherOverflowsNorLeaks) {
    const size_t depth = 100000;
    const std::string file = WriteDoc("deep.xml", NestedDoc(depth));
    C_XML xml;
    xml.setTrimWhitespace(true);
    ASSERT_TRUE(xml.load(file)) << xml.lastError();
    size_t levels = 0;
    const C_XML::C_Node* deepest = xml.document();
    for (const C_XML::C_Node* n = C_XML::firstChild(deepest); n != nullptr; n = C_XML::firstChild(n)) {
        deepest = n;
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    // Back up to the document through the parent links.
    size_t up = 0;
    for (const C_XML::C_Node* n = deepest; C_XML::parent(n) != nullptr; n = C_XML::parent(n)) ++up;
    EXPECT_EQ(up, depth);
    xml.clear();  // the same iterative teardown as the destructor
    EXPECT_EQ(C_XML::firstChild(xml.document()), nullptr);
    ASSERT_TRUE(xml.load(file));
    // ~C_XML at the end of the scope tears down the second copy.
}

TEST(CXmlLoad, TenMegabytesLoad) {
    std::string doc = "<tzr_package>\n";
    int count = 0;
    while (doc.size() < 10u * 1024 * 1024) {
        doc += "  <item id=\"" + std::to_string(count) + "\" name=\"controller firmware\">text " +
               std::to_string(count) + "</item>\n";
        ++count;
    }
    doc += "</tzr_package>\n";
    const std::string file = WriteDoc("big.xml", doc);
    C_XML xml;
    xml.setTrimWhitespace(true);
    ASSERT_TRUE(xml.load(file)) << xml.lastError();
    const C_XML::C_Node* root = NodeAt(xml, {"tzr_package"});
    EXPECT_EQ(ChildCount(root), static_cast<size_t>(count));
    const C_XML::C_Node* last = C_XML::firstChild(root);
    while (C_XML::nextSibling(last) != nullptr) last = C_XML::nextSibling(last);
    EXPECT_EQ(std::string(last->text()), "text " + std::to_string(count - 1));
    RemoveDoc(file);
}

TEST(CXmlLoad, HugeTextAndAttributeArriveWhole) {
    const std::string big(10u * 1024 * 1024, 'x');
    const std::string mid(1024u * 1024, 'y');
    const std::string file = WriteDoc("huge_text.xml", "<a v='" + mid + "'>" + big + "</a>");
    C_XML xml;
    ASSERT_TRUE(xml.load(file)) << xml.lastError();
    const C_XML::C_Node* a = NodeAt(xml, {"a"});
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text().size(), big.size());
    std::string v;
    EXPECT_TRUE(C_XML::getAttribute(a, "v", &v));
    EXPECT_EQ(v.size(), mid.size());
    RemoveDoc(file);
}

TEST(CXmlLoad, DocumentsThatExpandFarBeyondTheirSizeAreRefused) {
    for (const xmltest::ExpansionCase& c : xmltest::ExpansionCases()) {
        const std::string file = WriteDoc("expansion.xml", c.doc);
        const auto start = std::chrono::steady_clock::now();
        C_XML xml;
        EXPECT_EQ(!c.refused, xml.load(file)) << c.label << ": " << xml.lastError();
        EXPECT_EQ(c.refused ? 4 : 0, xml.lastStatus()) << c.label;
        if (c.why) {
            EXPECT_NE(std::string::npos, xml.lastError().find(c.why)) << xml.lastError();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << c.label;
        if (!c.refused) {
            EXPECT_NE(nullptr, NodeAt(xml, {"p"})) << c.label;
        }
        RemoveDoc(file);
    }
}

// The protection is expat's own: its accounting must be compiled in.
TEST(CXmlLoad, ExpatCountsEntityExpansion) {
    bool dtd = false, limit = false;
    for (const XML_Feature* f = XML_GetFeatureList(); f != nullptr && f->feature != XML_FEATURE_END; ++f) {
        dtd = dtd || f->feature == XML_FEATURE_DTD;
        limit = limit || f->feature == XML_FEATURE_BILLION_LAUGHS_ATTACK_PROTECTION_MAXIMUM_AMPLIFICATION_DEFAULT;
    }
    EXPECT_TRUE(dtd);
    EXPECT_TRUE(limit);
}

// A package definition whose vendor name holds an ampersand, through an
// entity: it loads, and the engine's queries see the name whole.
TEST(CXmlLoad, EntityHoldingAnAmpersandIsRead) {
    const std::string file =
        WriteDoc("ampersand.xml",
                 "<!DOCTYPE tzr_package [<!ENTITY co 'Smith &amp; Sons'>]>\n"
                 "<tzr_package vendor='&co;'>\n  <version value='1.0.15'/>\n  <name>&co;</name>\n</tzr_package>\n");
    C_XML xml;
    xml.setTrimWhitespace(true);
    ASSERT_TRUE(xml.load(file)) << xml.lastError();
    std::string text, vendor, version;
    EXPECT_TRUE(xml.selectText("/tzr_package/name", text));
    EXPECT_EQ("Smith & Sons", text);
    EXPECT_TRUE(xml.selectAttribute("/tzr_package", "vendor", vendor));
    EXPECT_EQ("Smith & Sons", vendor);
    EXPECT_TRUE(xml.selectAttribute("/tzr_package/version", "value", version));
    EXPECT_EQ("1.0.15", version);
    RemoveDoc(file);
}

// Nothing outside the document is ever read: external entities and
// parameter entities are skipped, whatever they name.
TEST(CXmlLoad, ExternalEntitiesAreNeverRead) {
    WriteDoc("outside.txt", "OUTSIDE");
    WriteDoc("outside.dtd", "<!ENTITY leak 'OUTSIDE'>");
    for (const std::string& doc : xmltest::ExternalEntityCases()) {
        C_XML xml;
        ASSERT_TRUE(xml.load(WriteDoc("external.xml", doc))) << doc << ": " << xml.lastError();
        const C_XML::C_Node* p = NodeAt(xml, {"p"});
        ASSERT_NE(p, nullptr) << doc;
        EXPECT_EQ("", std::string(p->text())) << doc;
    }
    RemoveDoc("external.xml");
    RemoveDoc("outside.txt");
    RemoveDoc("outside.dtd");
}
