// The translation of a storage's description between formats, without
// plugins: the keys of one format put into another's terms, with what a
// copy recomputed in place of the source's.
#include "plates/StorageMetadata.h"

#include "browse/PlateList.h"

#include <gtest/gtest.h>

namespace {

const MetadataList kGdalWorld = {{"name", "World"},
                                 {"type", "overlay"},
                                 {"description", "Earth"},
                                 {"attribution", "Me"},
                                 {"format", "jpg"},
                                 {"bounds", "-180,-85.0511287798066036,180,85.0511287798066036"},
                                 {"minzoom", "0"},
                                 {"maxzoom", "2"},
                                 {"json", "{\"vector_layers\":[{\"id\":\"a\"}]}"}};

TEST(StorageMetadataTest, KeysArePutIntoTheTargetsTerms)
{
    MetadataFields partial;
    partial.bounds = std::array<double, 4>{0, 0, 90, 66.51326044311186};
    partial.minZoom = 2;
    partial.maxZoom = 2;
    struct Case {
        const char* what;
        MetadataList source;
        MetadataDialect from;
        MetadataDialect into;
        MetadataFields changed;
        MetadataList expected;
    };
    const Case cases[] = {
        {"MBTiles into a GeoPackage: contents columns, bounds in metres, the rest as GDAL's items",
         kGdalWorld, MetadataDialect::MBTiles, MetadataDialect::GeoPackage, {},
         {{"gpkg_contents.identifier", "World"},
          {"type", "overlay"},
          {"gpkg_contents.description", "Earth"},
          {"attribution", "Me"},
          {"gpkg_contents.min_x", "-20037508.342789"},
          {"gpkg_contents.min_y", "-20037508.342789"},
          {"gpkg_contents.max_x", "20037508.342789"},
          {"gpkg_contents.max_y", "20037508.342789"},
          {"json", "{\"vector_layers\":[{\"id\":\"a\"}]}"}}},
        {"a partial copy into a GeoPackage: the extent copied", kGdalWorld, MetadataDialect::MBTiles,
         MetadataDialect::GeoPackage, partial,
         {{"gpkg_contents.identifier", "World"},
          {"type", "overlay"},
          {"gpkg_contents.description", "Earth"},
          {"attribution", "Me"},
          {"gpkg_contents.min_x", "0"},
          {"gpkg_contents.min_y", "0"},
          {"gpkg_contents.max_x", "10018754.171395"},
          {"gpkg_contents.max_y", "10018754.171395"},
          {"json", "{\"vector_layers\":[{\"id\":\"a\"}]}"}}},
        {"a GeoPackage into MBTiles: degrees and zooms from its levels",
         {{"gpkg_contents.table_name", "tiles"},
          {"gpkg_contents.identifier", "World"},
          {"gpkg_contents.description", ""},
          {"gpkg_contents.min_x", "0"},
          {"gpkg_contents.min_y", "0"},
          {"gpkg_contents.max_x", "10018754.1713946"},
          {"gpkg_contents.max_y", "10018754.1713946"},
          {"gpkg_contents.srs_id", "3857"},
          {"gpkg_tile_matrix.zoom_level", "3,4,5"}},
         MetadataDialect::GeoPackage, MetadataDialect::MBTiles, {},
         {{"name", "World"}, {"bounds", "0,0,90,66.5132604431"}, {"minzoom", "3"}, {"maxzoom", "5"}}},
        {"MBTiles into PMTiles: zooms left to the header, json spread", kGdalWorld, MetadataDialect::MBTiles,
         MetadataDialect::PMTiles, partial,
         {{"name", "World"},
          {"type", "overlay"},
          {"description", "Earth"},
          {"attribution", "Me"},
          {"format", "jpg"},
          {"bounds", "0,0,90,66.5132604431"},
          {"vector_layers", "[{\"id\":\"a\"}]"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(TranslateMetadata(c.source, c.from, c.into, c.changed), c.expected);
    }
}

// The typed fields a copy recomputes from the plates it stored: a part of
// the world keeps only its own extent; a whole copy the source's bounds.
TEST(StorageMetadataTest, ACopysExtentComesFromThePlatesStored)
{
    const char png[] = "\x89PNG\r\n\x1a\n";
    CopiedExtent extent;
    extent.Add("ttq", png, 8); // z2 x0 y2 (t: the bottom-left quarter, q: its top-left)
    extent.Add("tts", png, 8); // z2 x1 y3
    MetadataFields fields = InterpretMetadata(kGdalWorld, MetadataDialect::MBTiles);
    MetadataFields whole = fields;
    extent.Apply(&fields, false);
    ASSERT_TRUE(fields.bounds);
    EXPECT_NEAR((*fields.bounds)[0], -180, 1e-9);
    EXPECT_NEAR((*fields.bounds)[1], -85.0511287798066, 1e-9);
    EXPECT_NEAR((*fields.bounds)[2], 0, 1e-9);
    EXPECT_NEAR((*fields.bounds)[3], 0, 1e-9);
    EXPECT_EQ(fields.minZoom, 2);
    EXPECT_EQ(fields.maxZoom, 2);
    EXPECT_EQ(fields.format, "png");
    ASSERT_TRUE(fields.center);
    EXPECT_NEAR((*fields.center)[0], -90, 1e-9);
    extent.Apply(&whole, true);
    ASSERT_TRUE(whole.bounds);
    EXPECT_NEAR((*whole.bounds)[3], 85.0511287798066, 1e-9);
    EXPECT_EQ(whole.minZoom, 2);
}

// The packed names of the plate list give the extent their text gives,
// and a name that is no quadtree key ("q..." packs too) counts in neither.
TEST(StorageMetadataTest, APackedNameGivesTheExtentItsTextGives)
{
    const char png[] = "\x89PNG\r\n\x1a\n";
    const std::vector<std::vector<std::string>> sets = {
        {"t"}, {"ttq", "tts"}, {"trrr", "tsss", "tqrst"}, {"qrs", "tr"}, {"tstststststststststststststs"}};
    for (const auto& names : sets) {
        SCOPED_TRACE(names.front());
        PlateList list;
        CopiedExtent byText, byPacked;
        for (const std::string& name : names) {
            list.Append(name.c_str(), 0, 8);
            uint64_t letters = 0;
            int length = 0;
            ASSERT_TRUE(list.PackedLettersAt(list.Count() - 1, &letters, &length));
            byText.Add(name, png, 8);
            byPacked.AddPacked(letters, length, png, 8);
        }
        MetadataFields text, packed;
        byText.Apply(&text, false);
        byPacked.Apply(&packed, false);
        EXPECT_EQ(packed.minZoom, text.minZoom);
        EXPECT_EQ(packed.maxZoom, text.maxZoom);
        ASSERT_EQ(packed.bounds.has_value(), text.bounds.has_value());
        if (text.bounds) {
            for (int i = 0; i < 4; ++i)
                EXPECT_DOUBLE_EQ((*packed.bounds)[i], (*text.bounds)[i]);
        }
    }
}

} // namespace
