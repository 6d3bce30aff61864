#include "xml_expansion_guard.h"

namespace {

const unsigned long long kAmplification = 100;

}  // namespace

void XmlExpansionGuard::feed(size_t bytes)
{
    m_budget += kAmplification * bytes;
}

void XmlExpansionGuard::entityDeclared(const XML_Char* value, int length)
{
    if (value == nullptr)
        return;
    // Character references are already replaced in what the parser reports,
    // so "&#38;" smuggles no reference past this.
    for (int i = 0; i < length; ++i) {
        if (value[i] == '&' || value[i] == '<') {
            trip("an entity holds a reference or markup");
            return;
        }
    }
}

void XmlExpansionGuard::trip(const char* reason)
{
    if (m_reason == nullptr)
        m_reason = reason;
    if (m_parser != nullptr)
        XML_StopParser(m_parser, XML_FALSE);
}
