// 1541 disk images: files written and read back across sector boundaries,
// the listing, a full disk and a full directory, replacing, the variant
// with error bytes, saving the image, and damaged chains.
#include <algorithm>
#include <bit>
#include <filesystem>

#include "devices/d64.h"
#include "files_support.h"

namespace {

constexpr size_t TRACK18 = 0x16500;  // 17 tracks of 21 sectors before it

std::vector<uint8_t> data(size_t n, uint8_t seed = 1) { return bytes_of(pattern(n, seed)); }

DiskListing list(const D64Image& image) {
    DiskListing listing;
    EXPECT_EQ(d64_directory(image, listing), DiskStatus::OK);
    return listing;
}

std::vector<uint8_t> read(const D64Image& image, const DiskFile& file, DiskStatus expected = DiskStatus::OK) {
    std::vector<uint8_t> got;
    EXPECT_EQ(d64_read_file(image, file, got), expected) << file.name;
    return got;
}

// Free blocks by the BAM bitmaps, outside the directory track.
unsigned bitmap_free(const D64Image& image) {
    unsigned free = 0;
    for (unsigned t = 1; t <= 35; t++)
        for (unsigned i = 1; i <= 3 && t != 18; i++) free += std::popcount(image.bytes[TRACK18 + 4 * t + i]);
    return free;
}

}  // namespace

TEST(D64, BlankDiskIsFormattedAndEmpty) {
    EXPECT_EQ(d64_offset(18, 0), TRACK18);
    EXPECT_EQ(d64_offset(35, 16) + 256, D64_SIZE);
    D64Image image = d64_blank("TEST DISK", "ID");
    ASSERT_EQ(image.bytes.size(), D64_SIZE);
    const uint8_t* bam = &image.bytes[TRACK18];
    EXPECT_EQ(std::string(bam, bam + 3), "\x12\x01" "A");
    EXPECT_EQ(std::string(bam + 0x90, bam + 0xA7), "TEST DISK\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0ID\xA0" "2A");
    EXPECT_EQ(std::string(bam + 0x48, bam + 0x4C), std::string("\x11\xFC\xFF\x07", 4));  // 18/0, 18/1 used
    EXPECT_EQ(image.bytes[d64_offset(18, 1)], 0);
    EXPECT_EQ(image.bytes[d64_offset(18, 1) + 1], 0xFF);
    DiskListing listing = list(image);
    EXPECT_EQ(listing.disk_name, "TEST DISK");
    EXPECT_EQ(listing.disk_id, "ID 2A");
    EXPECT_TRUE(listing.files.empty());
    EXPECT_EQ(listing.blocks_free, 664u);
    EXPECT_EQ(bitmap_free(image), 664u);
}

TEST(D64, FilesRoundTripAcrossSectorBoundaries) {
    const size_t sizes[] = {1, 253, 254, 255, 508, 509};
    const uint16_t blocks[] = {1, 1, 1, 2, 2, 3};
    D64Image image = d64_blank("ROUND", "RT");
    for (size_t size : sizes)
        ASSERT_EQ(d64_write_file(image, "F" + std::to_string(size), data(size, uint8_t(size)), false), DiskStatus::OK);
    DiskListing listing = list(image);
    ASSERT_EQ(listing.files.size(), 6u);
    for (size_t i = 0; i < 6; i++) {
        const DiskFile& file = listing.files[i];
        EXPECT_EQ(file.name, "F" + std::to_string(sizes[i]));
        EXPECT_EQ(file.type, 0x82);
        EXPECT_EQ(file.blocks, blocks[i]) << file.name;
        EXPECT_EQ(read(image, file), data(sizes[i], uint8_t(sizes[i]))) << file.name;
    }
    // Next to the directory track; the last sector says where its data ends.
    const DiskFile& first = listing.files[0];
    EXPECT_EQ(first.track, 17);
    size_t at = d64_offset(first.track, first.sector);
    EXPECT_EQ(std::string(&image.bytes[at], &image.bytes[at + 3]), std::string("\0\x02\x01", 3));
    EXPECT_EQ(listing.blocks_free, 654u);
    EXPECT_EQ(bitmap_free(image), 654u);

    TempDir dir;
    ASSERT_EQ(d64_write_image(dir.file("a.d64").c_str(), image), DiskStatus::OK);
    D64Image again;
    ASSERT_EQ(d64_read_image(dir.file("a.d64").c_str(), again), DiskStatus::OK);
    EXPECT_TRUE(again.bytes == image.bytes);
}

TEST(D64, ReplaceOnlyWhenAskedAndNeverALockedFile) {
    D64Image image = d64_blank("R", "01");
    ASSERT_EQ(d64_write_file(image, "OTHER", data(300, 7), false), DiskStatus::OK);
    ASSERT_EQ(d64_write_file(image, "PROG", data(600, 1), false), DiskStatus::OK);
    D64Image before = image;
    EXPECT_EQ(d64_write_file(image, "PROG", data(100, 2), false), DiskStatus::EXISTS);
    EXPECT_TRUE(image.bytes == before.bytes);

    ASSERT_EQ(d64_write_file(image, "PROG", data(100, 2), true), DiskStatus::OK);
    DiskListing listing = list(image);
    ASSERT_EQ(listing.files.size(), 2u);
    EXPECT_EQ(listing.files[1].name, "PROG");
    EXPECT_EQ(listing.files[1].blocks, 1);
    EXPECT_EQ(read(image, listing.files[1]), data(100, 2));
    EXPECT_EQ(read(image, listing.files[0]), data(300, 7));
    EXPECT_EQ(listing.blocks_free, 664u - 2 - 1);
    EXPECT_EQ(bitmap_free(image), listing.blocks_free);

    image.bytes[d64_offset(18, 1) + 32 + 2] = 0xC2;  // PROG locked
    before = image;
    EXPECT_EQ(d64_write_file(image, "PROG", data(10), true), DiskStatus::EXISTS);
    EXPECT_TRUE(image.bytes == before.bytes);
}

TEST(D64, FullDiskOrDirectoryChangesNothing) {
    D64Image image = d64_blank("FULL", "FF");
    D64Image blank = image;
    EXPECT_EQ(d64_write_file(image, "BIG", data(665 * 254), false), DiskStatus::DISK_FULL);
    EXPECT_TRUE(image.bytes == blank.bytes);
    ASSERT_EQ(d64_write_file(image, "A", data(400 * 254), false), DiskStatus::OK);
    // The replacement must fit beside the file it replaces.
    D64Image before = image;
    EXPECT_EQ(d64_write_file(image, "A", data(300 * 254), true), DiskStatus::DISK_FULL);
    EXPECT_TRUE(image.bytes == before.bytes);
    ASSERT_EQ(d64_write_file(image, "B", data(264 * 254), false), DiskStatus::OK);
    EXPECT_EQ(list(image).blocks_free, 0u);
    before = image;
    EXPECT_EQ(d64_write_file(image, "C", data(1), false), DiskStatus::DISK_FULL);
    EXPECT_TRUE(image.bytes == before.bytes);
    EXPECT_EQ(read(image, list(image).files[1]), data(264 * 254));

    // 18 directory sectors of 8 entries fill the directory track.
    image = blank;
    for (int i = 0; i < 144; i++)
        ASSERT_EQ(d64_write_file(image, "N" + std::to_string(i), data(2, uint8_t(i)), false), DiskStatus::OK) << i;
    before = image;
    EXPECT_EQ(d64_write_file(image, "ONE MORE", data(2), false), DiskStatus::DISK_FULL);
    EXPECT_TRUE(image.bytes == before.bytes);
    DiskListing listing = list(image);
    ASSERT_EQ(listing.files.size(), 144u);
    EXPECT_EQ(listing.files[143].name, "N143");
    EXPECT_EQ(read(image, listing.files[143]), data(2, 143));
    EXPECT_EQ(listing.blocks_free, 520u);
    EXPECT_EQ(image.bytes[TRACK18 + 4 * 18], 0);  // no free sector left on track 18
}

TEST(D64, ImageFilesWithAndWithoutErrorBytes) {
    TempDir dir;
    D64Image image = d64_blank("E", "EE");
    image.bytes.resize(D64_SIZE_WITH_ERRORS, 1);
    ASSERT_EQ(d64_write_file(image, "P", data(1000), false), DiskStatus::OK);
    ASSERT_EQ(image.bytes.size(), D64_SIZE_WITH_ERRORS);
    EXPECT_EQ(std::count(image.bytes.begin() + D64_SIZE, image.bytes.end(), 1), 683);
    ASSERT_EQ(d64_write_image(dir.file("e.d64").c_str(), image), DiskStatus::OK);
    D64Image loaded;
    ASSERT_EQ(d64_read_image(dir.file("e.d64").c_str(), loaded), DiskStatus::OK);
    EXPECT_EQ(read(loaded, list(loaded).files.at(0)), data(1000));

    write_file(dir.file("short.d64"), std::string(D64_SIZE - 1, '\0'));
    EXPECT_EQ(d64_read_image(dir.file("short.d64").c_str(), loaded), DiskStatus::BAD_IMAGE);
    EXPECT_EQ(d64_read_image(dir.file("none.d64").c_str(), loaded), DiskStatus::NOT_FOUND);
    EXPECT_EQ(d64_read_image(dir.path.c_str(), loaded), DiskStatus::READ_ERROR);

    // A directory in the way, or no directory to write into: nothing changes.
    std::filesystem::create_directory(dir.file("sub.d64"));
    EXPECT_EQ(d64_write_image(dir.file("sub.d64").c_str(), image), DiskStatus::WRITE_ERROR);
    EXPECT_EQ(d64_write_image(dir.file("missing/x.d64").c_str(), image), DiskStatus::WRITE_ERROR);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("sub.d64")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 3);

    D64Image cut{std::vector<uint8_t>(image.bytes.begin(), image.bytes.begin() + D64_SIZE - 256)};
    DiskListing listing;
    std::vector<uint8_t> got;
    EXPECT_EQ(d64_directory(cut, listing), DiskStatus::BAD_IMAGE);
    EXPECT_EQ(d64_read_file(cut, {"P", 0x82, 4, 17, 0}, got), DiskStatus::BAD_IMAGE);
    EXPECT_EQ(d64_write_file(cut, "Q", data(1), false), DiskStatus::BAD_IMAGE);
    EXPECT_EQ(d64_write_image(dir.file("cut.d64").c_str(), cut), DiskStatus::WRITE_ERROR);
}

TEST(D64, DamagedChainsGiveReadErrors) {
    D64Image good = d64_blank("DAMAGED", "DD");
    ASSERT_EQ(d64_write_file(good, "THREE", data(509), false), DiskStatus::OK);
    DiskFile file = list(good).files.at(0);
    size_t first = d64_offset(file.track, file.sector);
    size_t second = d64_offset(good.bytes[first], good.bytes[first + 1]);
    size_t third = d64_offset(good.bytes[second], good.bytes[second + 1]);
    ASSERT_EQ(good.bytes[third], 0);
    struct Damage {
        const char* what;
        size_t at;
        std::vector<uint8_t> bytes;
        DiskStatus replace = DiskStatus::READ_ERROR;  // the links alone say which sectors to free
        bool directory = false;
    };
    const Damage damages[] = {
        {"loop to the first sector", third, {file.track, file.sector}},
        {"track 36", second, {36, 0}},
        {"sector 21 of track 17", second, {17, 21}},
        {"sector 17 of track 31", first, {31, 17}},
        {"last byte index 1", third + 1, {1}, DiskStatus::OK},
        {"last byte index 0", third + 1, {0}, DiskStatus::OK},
        {"directory loop", d64_offset(18, 1), {18, 1}, DiskStatus::READ_ERROR, true},
        {"directory link to track 40", d64_offset(18, 1), {40, 1}, DiskStatus::READ_ERROR, true},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        D64Image image = good;
        std::copy(damage.bytes.begin(), damage.bytes.end(), image.bytes.begin() + long(damage.at));
        DiskListing listing;
        if (damage.directory)
            EXPECT_EQ(d64_directory(image, listing), DiskStatus::READ_ERROR);
        else
            read(image, file, DiskStatus::READ_ERROR);
        D64Image before = image;
        // A new file where the directory is damaged, a replacement where the file is.
        EXPECT_EQ(d64_write_file(image, damage.directory ? "NEW" : "THREE", data(5), !damage.directory), damage.replace);
        if (damage.replace != DiskStatus::OK)
            EXPECT_TRUE(image.bytes == before.bytes);
        else
            EXPECT_EQ(list(image).blocks_free, 663u);
    }
    read(good, {"THREE", 0x82, 3, 0, 0}, DiskStatus::READ_ERROR);
    read(good, {"THREE", 0x82, 3, 18, 19}, DiskStatus::READ_ERROR);
}
