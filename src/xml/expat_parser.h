// The one holder of an expat parser, for both XML readers.
#pragma once

#include "unique_resource.h"

#include <expat.h>

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
