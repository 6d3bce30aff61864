// The one holder of an expat parser, and the one place that sets up a parser
// for both XML readers.
#pragma once

#include "unique_resource.h"

#include <expat.h>

#include <cstring>
#include <string>

struct ExpatParserTraits {
    using handle_type = XML_Parser;
    using keeper = NothingToKeep;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type p) { return p != nullptr; }
    static bool close(handle_type p)
    {
        XML_ParserFree(p);
        return true;
    }
};
using UniqueXmlParser = UniqueResource<ExpatParserTraits>;

// expat's own accounting against entity expansion (billion laughs): once a
// document has made the parser produce this many bytes, what it produces
// may not exceed this many times what it reads. A package definition uses
// a few plain entities at most; an entity bomb breaks the ratio within the
// first megabytes and the parse stops with
// XML_ERROR_AMPLIFICATION_LIMIT_BREACH.
constexpr float kXmlMaximumAmplification = 100.0f;
constexpr unsigned long long kXmlAmplificationThreshold = 8ULL << 20;

// Both readers refuse a larger file: no package definition comes near it (the
// largest are a few hundred KB), and memory stays a bounded multiple of it.
constexpr unsigned long long kXmlMaximumFileBytes = 16ULL << 20;

// XML's own white space. Not the C runtime's iswspace, which also takes
// U+3000 and U+00A0: a Japanese name may open with an ideographic space.
constexpr bool IsXmlBlank(unsigned c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A parser as both readers use it: no encoding given (taken from the
// byte-order mark or the declaration), the expansion limits above, and no
// parameter entity or external DTD ever read. No external entity handler is
// set either, so a reference to an external entity is skipped and nothing
// outside the document is opened. Null when the parser cannot be made so.
inline UniqueXmlParser CreateXmlParser()
{
    UniqueXmlParser parser(XML_ParserCreate(nullptr));
    if (parser &&
        !(XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser.get(), kXmlMaximumAmplification) &&
          XML_SetBillionLaughsAttackProtectionActivationThreshold(parser.get(), kXmlAmplificationThreshold) &&
          XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER)))
        parser.reset();
    return parser;
}

// expat's accounting counts what it reads and what entities make it read
// again, but not the attribute defaults of an ATTLIST declaration, which it
// hands to every element of that type without reading them again: a 64 KB
// default on thousands of empty elements makes a small document deliver
// hundreds of megabytes. Both readers count those bytes here against the
// same limits; a document that breaks them stops the parser.
class XmlDefaultAttributeTally {
public:
    // The attributes of one start-element callback. False, with the parser
    // stopped, once the defaults received exceed the limits.
    bool Add(XML_Parser parser, const XML_Char** attributes)
    {
        const int specified = XML_GetSpecifiedAttributeCount(parser);
        if (attributes == nullptr || specified < 0)
            return true;
        for (const XML_Char** p = attributes + specified; p[0] != nullptr && p[1] != nullptr; p += 2)
            m_bytes += std::strlen(p[0]) + std::strlen(p[1]);
        if (m_bytes <= kXmlAmplificationThreshold)
            return true;
        const XML_Index read = XML_GetCurrentByteIndex(parser);
        if (read > 0 && m_bytes <= kXmlMaximumAmplification * static_cast<double>(read))
            return true;
        m_read = read;
        m_bBroken = true;
        XML_StopParser(parser, XML_FALSE);
        return false;
    }
    bool Broken() const { return m_bBroken; }
    // Why the parser was stopped, with the limits, for the log.
    std::string Refusal() const
    {
        return "attribute defaults give " + std::to_string(m_bytes) + " bytes for " + std::to_string(m_read) +
               " read: more than " + std::to_string(static_cast<int>(kXmlMaximumAmplification)) +
               " times what is read, once past " + std::to_string(kXmlAmplificationThreshold) + " bytes";
    }

private:
    unsigned long long m_bytes = 0;
    long long m_read = 0;
    bool m_bBroken = false;
};
