// Documents that make a parser report far more than they hold, and harmless
// ones that look alike; both XML readers must refuse the first kind fast and
// read the second. Standard C++ only.
#pragma once

#include <string>
#include <vector>

namespace xmltest {

struct ExpansionCase {
    const char* label;
    std::string doc;
    bool refused;
    const char* why = nullptr;  // what the refusal says, where it names a limit
};

// levels entities, each made of ten references to the one before; the
// document uses the last one where use is (with "&e;" standing for it).
inline std::string NestedEntities(int levels, const std::string& first, const std::string& use) {
    std::string doc = "<!DOCTYPE p [<!ENTITY e0 '" + first + "'>";
    for (int i = 1; i < levels; ++i) {
        doc += "<!ENTITY e" + std::to_string(i) + " '";
        for (int k = 0; k < 10; ++k) doc += "&e" + std::to_string(i - 1) + ";";
        doc += "'>";
    }
    std::string body = use;
    body.replace(body.find("&e;"), 3, "&e" + std::to_string(levels - 1) + ";");
    return doc + "]>" + body;
}

inline std::vector<ExpansionCase> ExpansionCases() {
    const std::string big(64 * 1024, 'x');
    std::string bigUses = "<!DOCTYPE p [<!ENTITY big '" + big + "'>]><p>";
    std::string defaults = "<!DOCTYPE p [<!ATTLIST v d CDATA '" + big + "'>]><p>";
    for (int i = 0; i < 2000; ++i) {
        bigUses += "&big;";
        defaults += "<v/>";
    }
    bigUses += "</p>";
    defaults += "</p>";
    std::string smallDefaults = "<!DOCTYPE p [<!ATTLIST v d CDATA 'yes'>]><p>";
    for (int i = 0; i < 100000; ++i) smallDefaults += "<v/>";
    smallDefaults += "</p>";
    std::string tiny = "<p>";
    for (int i = 0; i < 100000; ++i) tiny += "<v/>";
    tiny += "</p>";
    return {
        {"nested entities in text", NestedEntities(10, "lollollol", "<p>&e;</p>"), true},
        {"nested entities in an attribute", NestedEntities(10, "lollollol", "<p a='&e;'/>"), true},
        {"nested entities of elements", NestedEntities(7, "<v/>", "<p>&e;</p>"), true},
        // Entities that hold markup or references but expand to little are
        // harmless; only the amount they expand to counts.
        {"an entity of markup", "<!DOCTYPE p [<!ENTITY m '<v/>'>]><p>&m;</p>", false},
        {"a reference given as a character reference",
         "<!DOCTYPE p [<!ENTITY a 'x'><!ENTITY b '&#38;a;'>]><p>&b;</p>", false},
        {"a predefined entity inside an entity",
         "<!DOCTYPE p [<!ENTITY co 'Smith &amp; Sons'>]><p a='&co;'>&co;</p>", false},
        {"nested entities that stay small", NestedEntities(3, "lol", "<p>&e;</p>"), false},
        {"many uses of one large entity", bigUses, true},
        {"a large default attribute on many elements", defaults, true,
         "read: more than 100 times what is read, once past 8388608 bytes"},
        {"plain entities", "<!DOCTYPE p [<!ENTITY co 'Acme'>]><p a='&co;'>&co;Tools</p>", false},
        {"predefined and character references", "<p a='&quot;'>&amp;&lt;&#65;&#x42;</p>", false},
        {"an external entity that is never read", "<!DOCTYPE p [<!ENTITY x SYSTEM 'x.xml'>]><p>t</p>", false},
        {"a dense document of tiny elements", tiny, false},
        {"a small default attribute on many elements", smallDefaults, false},
    };
}

// Documents that name something outside themselves (outside.txt holding
// "OUTSIDE" and outside.dtd declaring &leak; as "OUTSIDE", which the test
// writes): none of it may ever be read.
inline std::vector<std::string> ExternalEntityCases()
{
    return {
        "<!DOCTYPE p [<!ENTITY x SYSTEM \"file:///C:/windows/win.ini\">]><p>&x;</p>",
        "<!DOCTYPE p [<!ENTITY x SYSTEM \"outside.txt\">]><p>&x;</p>",
        "<!DOCTYPE p [<!ENTITY % pe SYSTEM \"outside.dtd\"> %pe;]><p>&leak;</p>",
        "<!DOCTYPE p SYSTEM \"outside.dtd\"><p>&leak;</p>",
    };
}

}  // namespace xmltest
