// libFuzzer harness for the byte XML document and its path queries, built
// natively (its sources use standard C++ and expat only):
//
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -DXML_DTD=1
//       -Isrc/xml -Isrc/system src/xml/c_xml.cpp src/xml/c_xpath.cpp
//       tests/fuzz/xml_fuzz.cpp -lexpat -o xml_fuzz
//   (one command line; Debian's libexpat1-dev provides the native expat)
//   ./xml_fuzz -max_total_time=300
//
// The input's first line is a path expression, the rest the document; the
// first byte of the path chooses trimming. Every answer is fine as long as
// nothing crashes, overruns or leaks and the tree holds together.
#include "c_xpath.h"
#include "unique_resource.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string DocFile() {
    static const std::string name = "/tmp/xml_fuzz_" + std::to_string(getpid()) + ".xml";
    return name;
}

// Walks the whole tree without recursion and checks its links.
void CheckTree(const C_XML& xml) {
    const C_XML::C_Node* node = xml.document();
    while (node != nullptr) {
        for (const C_XML::C_Node* c = C_XML::firstChild(node); c != nullptr; c = C_XML::nextSibling(c)) {
            if (C_XML::parent(c) != node) std::abort();
        }
        std::string text;
        C_XML::getText(node, &text);
        for (const auto& attribute : node->attributes()) {
            std::string value;
            if (!C_XML::getAttribute(node, std::string(attribute.first), &value)) std::abort();
        }
        if (const C_XML::C_Node* child = C_XML::firstChild(node)) {
            node = child;
            continue;
        }
        while (node != nullptr && C_XML::nextSibling(node) == nullptr) node = C_XML::parent(node);
        if (node != nullptr) node = C_XML::nextSibling(node);
    }
}

class CountAll : public C_Found {
public:
    bool found(const C_XML&, const C_XML::C_Node*) override { return ++m_nCount < 1000; }
    size_t m_nCount = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t eol = input.find('\n');
    const std::string path = input.substr(0, eol);
    const std::string doc = eol == std::string::npos ? std::string() : input.substr(eol + 1);
    // Predicates walk the rest of the path again: keep paths short.
    if (path.size() > 64) return 0;

    {
        UniqueFile f(std::fopen(DocFile().c_str(), "wb"));
        if (!f) return 0;
        std::fwrite(doc.data(), 1, doc.size(), f.get());
    }

    C_XML xml;
    xml.setTrimWhitespace(!path.empty() && (path[0] & 1));
    xml.load(DocFile());
    CheckTree(xml);

    std::string out;
    xml.selectText(path, out);
    xml.selectAttribute(path, "id", out);
    xml.selectNode(path);
    C_XPath xpath;
    xpath.compile(path);
    CountAll all;
    xpath.walk(xml, all);
    xml.clear();
    return 0;
}
