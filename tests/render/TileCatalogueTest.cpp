// TileCatalogueTest.cpp - the catalogue rows, the image table and lookups of absent values.
#include "render/TileCatalogue.h"

#include <gtest/gtest.h>

#include <set>

namespace Vornik {
namespace {

struct Row {
    int32_t value;
    TileImage image;
    uint32_t mediumCaption, mediumBody, wideCaption, wideBody;
};

// The catalogue as the resource library numbers it.
const Row kRows[] = {
    {0, IMAGE_SECURE, 142, 143, 190, 191},    {1, IMAGE_AT_RISK, 144, 145, 203, 202},
    {2, IMAGE_AT_RISK, 146, 147, 201, 200},   {3, IMAGE_SECURE, 178, 179, 138, 139},
    {4, IMAGE_AT_RISK, 148, 149, 198, 199},   {5, IMAGE_AT_RISK, 150, 151, 196, 197},
    {6, IMAGE_NEUTRAL, 194, 195, 192, 193},   {7, IMAGE_NEUTRAL, 152, 153, 112, 113},
    {8, IMAGE_SECURE, 176, 177, 136, 137},    {9, IMAGE_AT_RISK, 154, 155, 114, 115},
    {10, IMAGE_AT_RISK, 156, 157, 116, 117},  {11, IMAGE_NEUTRAL, 158, 159, 118, 119},
    {12, IMAGE_SECURE, 180, 181, 140, 141},   {13, IMAGE_AT_RISK, 162, 163, 122, 123},
    {14, IMAGE_AT_RISK, 210, 211, 208, 209},  {21, IMAGE_AT_RISK, 206, 207, 204, 205},
};

TEST(TileCatalogueTest, EveryContentFindsItsRow) {
    ASSERT_EQ(tileCatalogue.size(), std::size(kRows));
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.value);
        const TileResources* found = findTileResources(static_cast<TileContent>(row.value));
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->image, row.image);
        EXPECT_EQ(found->mediumCaptionId, row.mediumCaption);
        EXPECT_EQ(found->mediumBodyId, row.mediumBody);
        EXPECT_EQ(found->wideCaptionId, row.wideCaption);
        EXPECT_EQ(found->wideBodyId, row.wideBody);
    }
}

TEST(TileCatalogueTest, NamesCarryTheFixedValues) {
    EXPECT_EQ(static_cast<int32_t>(AT_RISK), 21);
    EXPECT_EQ(static_cast<int32_t>(UPDATES_OFF), 14);
    EXPECT_EQ(findTileResources(THREATS_UNRESOLVED)->wideCaptionId, 203u);
    EXPECT_EQ(findTileResources(THREATS_UNRESOLVED)->wideBodyId, 202u);
    EXPECT_EQ(findTileResources(SCAN_OUT_OF_DATE)->wideCaptionId, 201u);
    EXPECT_EQ(findTileResources(SCAN_OUT_OF_DATE)->wideBodyId, 200u);
}

TEST(TileCatalogueTest, ValuesOutsideTheCatalogueFindNothing) {
    for (int32_t value : {-1, 15, 20, 22, 1000}) {
        EXPECT_EQ(findTileResources(static_cast<TileContent>(value)), nullptr) << value;
    }
    EXPECT_EQ(findTileImage(static_cast<TileImage>(4)), nullptr);
    EXPECT_EQ(findTileImage(static_cast<TileImage>(-1)), nullptr);
}

TEST(TileCatalogueTest, ImagesAreBareFileNames) {
    EXPECT_EQ(*findTileImage(IMAGE_SECURE), L"secure.png");
    EXPECT_EQ(*findTileImage(IMAGE_AT_RISK), L"atrisk.png");
    EXPECT_EQ(*findTileImage(IMAGE_NEUTRAL), L"neutral.png");
    EXPECT_EQ(*findTileImage(IMAGE_WARNING), L"warning.png");
    EXPECT_EQ(tileImages.size(), 4u);
}

TEST(TileCatalogueTest, AllStringIdsAreTheTemplateTheTextsAndTheCounts) {
    const std::vector<uint32_t> ids = allTileStringIds();
    EXPECT_EQ(ids.size(), 1u + 64u + 12u);  // the 64 caption and body ids are all distinct
    const std::set<uint32_t> set(ids.begin(), ids.end());
    EXPECT_TRUE(set.count(101));
    for (uint32_t id = 220; id <= 231; ++id) EXPECT_TRUE(set.count(id)) << id;
}

}  // namespace
}  // namespace Vornik
