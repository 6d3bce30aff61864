// The framework's UTF-16 XML reader. Only the type is in place: parsing of
// the package definition arrives with the wide reader, and until then the
// component never creates one.
#pragma once

class CTzrXMLReader {
public:
    virtual ~CTzrXMLReader() = default;
};
