#include "gdal_metadata.h"

#include <expat.h>

#include <algorithm>
#include <cstring>

namespace geopackage {

namespace {

struct Reader {
    XML_Parser parser = nullptr;
    const std::string* xml = nullptr;
    GdalMetadata* document = nullptr;
    int depth = 0;
    bool defaultDomain = false; // inside a Metadata element of the default domain
    bool inItem = false;
    long otherStart = -1;       // byte offset of another domain's Metadata element
    std::string key;
    std::string value;
    bool bad = false;

    static void Start(void* data, const XML_Char* name, const XML_Char** attributes) {
        auto* r = static_cast<Reader*>(data);
        ++r->depth;
        if (r->depth == 2 && std::strcmp(name, "Metadata") == 0) {
            const char* domain = nullptr;
            bool xmlFormat = false;
            for (const XML_Char** a = attributes; *a; a += 2) {
                if (std::strcmp(a[0], "domain") == 0)
                    domain = a[1];
                else if (std::strcmp(a[0], "format") == 0)
                    xmlFormat = std::strcmp(a[1], "xml") == 0;
            }
            r->defaultDomain = (!domain || *domain == '\0') && !xmlFormat;
            if (!r->defaultDomain)
                r->otherStart = static_cast<long>(XML_GetCurrentByteIndex(r->parser));
        } else if (r->depth == 3 && r->defaultDomain && std::strcmp(name, "MDI") == 0) {
            const char* key = nullptr;
            for (const XML_Char** a = attributes; *a; a += 2)
                if (std::strcmp(a[0], "key") == 0)
                    key = a[1];
            if (!key || *key == '\0')
                return; // GDAL skips an item without a key too
            r->inItem = true;
            r->key = key;
            r->value.clear();
        }
    }

    static void End(void* data, const XML_Char*) {
        auto* r = static_cast<Reader*>(data);
        if (r->depth == 3 && r->inItem) {
            r->inItem = false;
            r->document->items.emplace_back(std::move(r->key), std::move(r->value));
        } else if (r->depth == 2) {
            if (r->otherStart >= 0) {
                const long end = static_cast<long>(XML_GetCurrentByteIndex(r->parser)) + XML_GetCurrentByteCount(r->parser);
                if (end > r->otherStart && static_cast<size_t>(end) <= r->xml->size())
                    r->document->otherDomains += "  " + r->xml->substr(static_cast<size_t>(r->otherStart),
                                                                       static_cast<size_t>(end - r->otherStart)) + "\n";
                else
                    r->bad = true;
            }
            r->otherStart = -1;
            r->defaultDomain = false;
        }
        --r->depth;
    }

    static void Text(void* data, const XML_Char* text, int length) {
        auto* r = static_cast<Reader*>(data);
        if (r->inItem)
            r->value.append(text, static_cast<size_t>(length));
    }
};

std::string Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

bool ParseGdalMetadata(const std::string& xml, GdalMetadata* document) {
    *document = {};
    XML_Parser parser = XML_ParserCreate("UTF-8");
    if (!parser)
        return false;
    Reader reader;
    reader.parser = parser;
    reader.xml = &xml;
    reader.document = document;
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(parser, &Reader::Start, &Reader::End);
    XML_SetCharacterDataHandler(parser, &Reader::Text);
    const bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK && !reader.bad;
    XML_ParserFree(parser);
    if (!ok)
        *document = {};
    return ok;
}

std::string WriteGdalMetadata(const GdalMetadata& document) {
    std::string xml = "<GDALMultiDomainMetadata>\n";
    if (!document.items.empty()) {
        xml += "  <Metadata>\n";
        for (const auto& [key, value] : document.items)
            xml += "    <MDI key=\"" + Escaped(key) + "\">" + Escaped(value) + "</MDI>\n";
        xml += "  </Metadata>\n";
    }
    xml += document.otherDomains;
    xml += "</GDALMultiDomainMetadata>\n";
    return xml;
}

bool SetGdalMetadataItem(GdalMetadata* document, const std::string& key, const char* value) {
    auto& items = document->items;
    const auto same = [&](const auto& item) { return item.first == key; };
    auto at = std::find_if(items.begin(), items.end(), same);
    if (!value) {
        if (at == items.end())
            return false;
        items.erase(std::remove_if(at, items.end(), same), items.end());
        return true;
    }
    if (at == items.end()) {
        items.emplace_back(key, value);
        return true;
    }
    const bool changed = at->second != value;
    at->second = value;
    items.erase(std::remove_if(at + 1, items.end(), same), items.end());
    return changed;
}

} // namespace geopackage
