// Test documents are written into the test's working folder; standard C++
// only, so these tests also build natively for sanitizer runs.
#pragma once

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <string>

#include "c_xml.h"

namespace xmltest {

inline std::string WriteDoc(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return name;
}

inline void RemoveDoc(const std::string& name) { std::remove(name.c_str()); }

// The node reached from the document node through the named children.
inline const C_XML::C_Node* NodeAt(const C_XML& xml, std::initializer_list<const char*> names) {
    const C_XML::C_Node* node = xml.document();
    for (const char* name : names) {
        node = C_XML::findChild(node, name);
    }
    return node;
}

inline size_t ChildCount(const C_XML::C_Node* node) {
    size_t count = 0;
    for (const C_XML::C_Node* child = C_XML::firstChild(node); child != nullptr; child = C_XML::nextSibling(child)) {
        ++count;
    }
    return count;
}

// <a><a>...</a></a>, depth levels.
inline std::string NestedDoc(size_t depth) {
    std::string doc;
    doc.reserve(depth * 7);
    for (size_t i = 0; i < depth; ++i) doc += "<a>";
    for (size_t i = 0; i < depth; ++i) doc += "</a>";
    return doc;
}

}  // namespace xmltest
