#pragma once
// The metadata document GDAL keeps in a GeoPackage's gpkg_metadata table
// for a dataset: XML of the form
//   <GDALMultiDomainMetadata>
//     <Metadata>
//       <MDI key="KEY">VALUE</MDI>
//     </Metadata>
//   </GDALMultiDomainMetadata>
// (md_standard_uri 'http://gdal.org', mime_type 'text/xml'). The items of
// the default domain (a Metadata element without a domain) are the keys;
// every other Metadata element (another domain, an XML domain) is kept
// as written when the document is written again.

#include <string>
#include <utility>
#include <vector>

namespace geopackage {

struct GdalMetadata {
    std::vector<std::pair<std::string, std::string>> items; // the default domain, in document order
    std::string otherDomains;                               // other Metadata elements, as written
};

// False for a text that is not such a document.
bool ParseGdalMetadata(const std::string& xml, GdalMetadata* document);
std::string WriteGdalMetadata(const GdalMetadata& document);
// Sets or (value null) removes the key; false when nothing changed.
bool SetGdalMetadataItem(GdalMetadata* document, const std::string& key, const char* value);

} // namespace geopackage
