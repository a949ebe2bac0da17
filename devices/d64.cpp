// The 1541 disk image: geometry, sector chains, the BAM and the directory.
#include "d64.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "../files/fileutil.h"

namespace {

constexpr unsigned TRACKS = 35;
constexpr unsigned SECTORS = 683;
constexpr unsigned SECTOR_SIZE = 256;
constexpr unsigned DATA_PER_SECTOR = 254;  // after the two link bytes

constexpr uint8_t DIR_TRACK = 18;
constexpr uint8_t BAM_SECTOR = 0;
constexpr uint8_t FIRST_DIR_SECTOR = 1;
constexpr unsigned ENTRIES_PER_SECTOR = 8;
constexpr unsigned ENTRY_SIZE = 32;

// Offsets in the BAM sector.
constexpr unsigned BAM_DOS_VERSION = 0x02;
constexpr unsigned BAM_TRACKS = 0x04;  // four bytes per track: free count, 3-byte bitmap
constexpr unsigned BAM_DISK_NAME = 0x90;
constexpr unsigned BAM_DISK_ID = 0xA2;
constexpr unsigned BAM_DOS_TYPE = 0xA5;
constexpr unsigned BAM_HEADER_END = 0xAB;

// Offsets in a directory entry.
constexpr unsigned ENTRY_TYPE = 2;
constexpr unsigned ENTRY_TRACK = 3;
constexpr unsigned ENTRY_SECTOR = 4;
constexpr unsigned ENTRY_NAME = 5;
constexpr unsigned ENTRY_SIDE_TRACK = 21;  // a REL file's first side sector
constexpr unsigned ENTRY_SIDE_SECTOR = 22;
constexpr unsigned ENTRY_RECORD_LENGTH = 23;
constexpr unsigned ENTRY_BLOCKS = 30;

// A side sector of a REL file: its number, the record length, the places of
// all six side sectors, then the data blocks it lists.
constexpr unsigned SIDE_NUMBER = 2;
constexpr unsigned SIDE_RECORD_LENGTH = 3;
constexpr unsigned SIDE_LIST = 4;
constexpr unsigned SIDE_DATA = 16;
constexpr unsigned SIDE_BLOCKS = 120;
constexpr unsigned SIDE_SECTORS_MAX = 6;

constexpr unsigned NAME_LENGTH = 16;
constexpr unsigned DISK_ID_LENGTH = 5;  // id, $A0, DOS type
constexpr uint8_t PAD = 0xA0;
constexpr uint8_t TYPE_CLOSED = 0x80;
constexpr uint8_t TYPE_LOCKED = 0x40;
constexpr uint8_t TYPE_MASK = 0x07;
constexpr uint8_t TYPE_REL = 0x04;

// Sector steps between the blocks of a file and of the directory, so that
// the next block comes round under the head as the last one is handled.
constexpr unsigned FILE_INTERLEAVE = 10;
constexpr unsigned DIR_INTERLEAVE = 3;

struct Zone {
    unsigned last_track, sectors;
};
constexpr std::array<Zone, 4> ZONES{{{17, 21}, {24, 19}, {30, 18}, {35, 17}}};

constexpr unsigned sectors_in(unsigned track) {
    for (const Zone& zone : ZONES)
        if (track <= zone.last_track) return zone.sectors;
    return 0;
}

// Index of each track's first sector among the 683.
constexpr std::array<unsigned, TRACKS + 2> TRACK_START = [] {
    std::array<unsigned, TRACKS + 2> start{};
    for (unsigned t = 1; t <= TRACKS; t++) start[t + 1] = start[t] + sectors_in(t);
    return start;
}();
static_assert(TRACK_START[TRACKS + 1] == SECTORS);
static_assert(size_t(SECTORS) * SECTOR_SIZE == D64_SIZE);
static_assert(D64_SIZE + SECTORS == D64_SIZE_WITH_ERRORS);

bool valid_size(size_t size) { return size == D64_SIZE || size == D64_SIZE_WITH_ERRORS; }

bool valid_sector(unsigned track, unsigned sector) {
    return track >= 1 && track <= TRACKS && sector < sectors_in(track);
}

unsigned sector_index(unsigned track, unsigned sector) { return TRACK_START[track] + sector; }

// Callers check valid_sector first.
uint8_t* sector_at(std::vector<uint8_t>& bytes, unsigned track, unsigned sector) {
    return bytes.data() + size_t(sector_index(track, sector)) * SECTOR_SIZE;
}
const uint8_t* sector_at(const std::vector<uint8_t>& bytes, unsigned track, unsigned sector) {
    return bytes.data() + size_t(sector_index(track, sector)) * SECTOR_SIZE;
}

using SectorSet = std::array<bool, SECTORS>;

// Walks a sector chain from its first sector: each sector is visited once,
// a link out of range or back into the chain stops the walk with
// READ_ERROR, and a link to track 0 ends it.
struct ChainWalk {
    const std::vector<uint8_t>& bytes;
    unsigned track, sector;
    SectorSet seen{};
    DiskStatus status = DiskStatus::OK;

    // The next sector of the chain, or nullptr at its end or on an error.
    const uint8_t* next() {
        if (track == 0 || status != DiskStatus::OK) return nullptr;
        if (!valid_sector(track, sector) || seen[sector_index(track, sector)]) {
            status = DiskStatus::READ_ERROR;
            return nullptr;
        }
        seen[sector_index(track, sector)] = true;
        const uint8_t* data = sector_at(bytes, track, sector);
        track = data[0];
        sector = data[1];
        return data;
    }
};

std::string unpadded(const uint8_t* field, unsigned length) {
    while (length > 0 && field[length - 1] == PAD) length--;
    return std::string(reinterpret_cast<const char*>(field), length);
}

void put_padded(uint8_t* field, const std::string& text, unsigned length) {
    for (unsigned i = 0; i < length; i++) field[i] = i < text.size() ? uint8_t(text[i]) : PAD;
}

// The BAM entry of a track: the free count, then one bit per sector, set
// when the sector is free.
uint8_t* bam_entry(std::vector<uint8_t>& bytes, unsigned track) {
    return sector_at(bytes, DIR_TRACK, BAM_SECTOR) + BAM_TRACKS + 4 * (track - 1);
}
const uint8_t* bam_entry(const std::vector<uint8_t>& bytes, unsigned track) {
    return sector_at(bytes, DIR_TRACK, BAM_SECTOR) + BAM_TRACKS + 4 * (track - 1);
}

bool is_free(const std::vector<uint8_t>& bytes, unsigned track, unsigned sector) {
    return bam_entry(bytes, track)[1 + sector / 8] & (1u << (sector % 8));
}

// Sets one sector's bit and recounts the track, so that count and bitmap
// agree afterwards even on a disk where they did not.
void mark(std::vector<uint8_t>& bytes, unsigned track, unsigned sector, bool free) {
    uint8_t* entry = bam_entry(bytes, track);
    uint8_t bit = uint8_t(1u << (sector % 8));
    if (free)
        entry[1 + sector / 8] |= bit;
    else
        entry[1 + sector / 8] &= uint8_t(~bit);
    unsigned count = 0;
    for (unsigned s = 0; s < sectors_in(track); s++) count += is_free(bytes, track, s);
    entry[0] = uint8_t(count);
}

// The first free sector of a track at or after `from`, wrapping round;
// -1 when the track is full.
int free_sector_from(const std::vector<uint8_t>& bytes, unsigned track, unsigned from, const SectorSet& reserved) {
    unsigned count = sectors_in(track);
    for (unsigned i = 0; i < count; i++) {
        unsigned s = (from + i) % count;
        if (is_free(bytes, track, s) && !reserved[sector_index(track, s)]) return int(s);
    }
    return -1;
}

// Where the data blocks of a new file go: close to the directory track
// first, to keep the head's travel short, then outwards on the same side
// and then on the other side. Sectors in `reserved` are never taken,
// whatever the BAM says.
struct Allocator {
    std::vector<uint8_t>& bytes;
    const SectorSet& reserved;
    unsigned track = 0, sector = 0;

    bool next() {
        if (track != 0) {
            int s = free_sector_from(bytes, track, sector + FILE_INTERLEAVE, reserved);
            if (s >= 0) return take(track, unsigned(s));
        }
        for (unsigned t : track_order())
            if (int s = free_sector_from(bytes, t, 0, reserved); s >= 0) return take(t, unsigned(s));
        return false;
    }

    bool take(unsigned t, unsigned s) {
        track = t;
        sector = s;
        mark(bytes, t, s, false);
        return true;
    }

    // Every track but the directory's, in the order they are tried.
    std::vector<unsigned> track_order() const {
        std::vector<unsigned> below, above, order;
        for (unsigned t = DIR_TRACK - 1; t >= 1; t--) below.push_back(t);
        for (unsigned t = DIR_TRACK + 1; t <= TRACKS; t++) above.push_back(t);
        if (track == 0) {
            for (size_t i = 0; i < std::max(below.size(), above.size()); i++) {
                if (i < below.size()) order.push_back(below[i]);
                if (i < above.size()) order.push_back(above[i]);
            }
            return order;
        }
        const std::vector<unsigned>& same = track < DIR_TRACK ? below : above;
        const std::vector<unsigned>& other = track < DIR_TRACK ? above : below;
        auto here = std::find(same.begin(), same.end(), track);
        order.insert(order.end(), here, same.end());
        order.insert(order.end(), other.begin(), other.end());
        order.insert(order.end(), same.begin(), here);
        return order;
    }
};

struct EntryPlace {
    unsigned track, sector, slot;
};

uint8_t* entry_at(std::vector<uint8_t>& bytes, const EntryPlace& place) {
    return sector_at(bytes, place.track, place.sector) + place.slot * ENTRY_SIZE;
}

// The sectors of a chain in order.
using Chain = std::vector<std::pair<unsigned, unsigned>>;
DiskStatus follow_chain(const std::vector<uint8_t>& bytes, unsigned track, unsigned sector, Chain& chain,
                        SectorSet* seen = nullptr) {
    ChainWalk walk{bytes, track, sector};
    for (unsigned t = track, s = sector; walk.next(); t = walk.track, s = walk.sector) chain.push_back({t, s});
    if (seen) *seen = walk.seen;
    return walk.status;
}

// Every directory entry in chain order, with where it is stored, and the
// directory's sectors.
DiskStatus directory_entries(const std::vector<uint8_t>& bytes, std::vector<EntryPlace>& places,
                             SectorSet& sectors) {
    Chain chain;
    DiskStatus status = follow_chain(bytes, DIR_TRACK, FIRST_DIR_SECTOR, chain, &sectors);
    for (auto [track, sector] : chain)
        for (unsigned slot = 0; slot < ENTRIES_PER_SECTOR; slot++) places.push_back({track, sector, slot});
    return status;
}

DiskFile file_of(const uint8_t* entry) {
    DiskFile f{unpadded(entry + ENTRY_NAME, NAME_LENGTH), entry[ENTRY_TYPE],
               uint16_t(entry[ENTRY_BLOCKS] | entry[ENTRY_BLOCKS + 1] << 8), entry[ENTRY_TRACK],
               entry[ENTRY_SECTOR]};
    if ((f.type & TYPE_MASK) == TYPE_REL) f.record_length = entry[ENTRY_RECORD_LENGTH];
    return f;
}

bool is_rel(const uint8_t* entry) { return (entry[ENTRY_TYPE] & TYPE_MASK) == TYPE_REL; }

// Every sector a directory entry's file holds: its data chain and, for a
// REL file, its side sectors.
DiskStatus file_sectors(const std::vector<uint8_t>& bytes, const uint8_t* entry, Chain& chain) {
    DiskStatus status = follow_chain(bytes, entry[ENTRY_TRACK], entry[ENTRY_SECTOR], chain);
    if (status == DiskStatus::OK && is_rel(entry) && entry[ENTRY_SIDE_TRACK] != 0)
        status = follow_chain(bytes, entry[ENTRY_SIDE_TRACK], entry[ENTRY_SIDE_SECTOR], chain);
    return status;
}

// The entry of the file stored under exactly `name`, or nullptr.
const EntryPlace* find_entry(std::vector<uint8_t>& bytes, const std::vector<EntryPlace>& places,
                             const std::string& name) {
    for (const EntryPlace& place : places) {
        const uint8_t* entry = entry_at(bytes, place);
        if (entry[ENTRY_TYPE] != 0 && unpadded(entry + ENTRY_NAME, NAME_LENGTH) == name) return &place;
    }
    return nullptr;
}

// A new sector for the directory on its own track, after the last one
// with the directory's interleave, linked from it.
bool extend_directory(std::vector<uint8_t>& bytes, const EntryPlace& last, const SectorSet& directory,
                      EntryPlace& place) {
    if (last.track != DIR_TRACK) return false;
    int s = free_sector_from(bytes, DIR_TRACK, last.sector + DIR_INTERLEAVE, directory);
    if (s < 0) return false;
    mark(bytes, DIR_TRACK, unsigned(s), false);
    uint8_t* link = sector_at(bytes, last.track, last.sector);
    link[0] = DIR_TRACK;
    link[1] = uint8_t(s);
    uint8_t* fresh = sector_at(bytes, DIR_TRACK, unsigned(s));
    std::fill(fresh, fresh + SECTOR_SIZE, 0);
    fresh[1] = 0xFF;
    place = {DIR_TRACK, unsigned(s), 0};
    return true;
}

// A file's bytes from its first sector on; `data` untouched on an error.
DiskStatus read_chain_data(const std::vector<uint8_t>& bytes, unsigned track, unsigned sector, std::vector<uint8_t>& data) {
    // Track 0 ends a chain, but as the first sector it names no sector at all.
    if (track == 0) return DiskStatus::READ_ERROR;
    std::vector<uint8_t> got;
    ChainWalk walk{bytes, track, sector};
    while (const uint8_t* at = walk.next()) {
        unsigned end = SECTOR_SIZE;
        if (at[0] == 0) {
            if (at[1] < 2) return DiskStatus::READ_ERROR;
            end = at[1] + 1u;
        }
        got.insert(got.end(), at + 2, at + end);
    }
    if (walk.status != DiskStatus::OK) return walk.status;
    data = std::move(got);
    return DiskStatus::OK;
}

}  // namespace

DiskStatus d64_read_image(const char* path, D64Image& image) {
    struct stat st;
    if (stat(path, &st) != 0) return errno == ENOENT ? DiskStatus::NOT_FOUND : DiskStatus::READ_ERROR;
    int fd = open_regular(path);
    if (fd == -1) return DiskStatus::READ_ERROR;
    off_t length = file_length(fd);
    if (length == -1) {
        close(fd);
        return DiskStatus::READ_ERROR;
    }
    if (!valid_size(size_t(length))) {
        close(fd);
        return DiskStatus::BAD_IMAGE;
    }
    std::vector<uint8_t> bytes(size_t(length) + 1);
    ssize_t got = read_up_to(fd, bytes.data(), bytes.size());
    close(fd);
    // One byte more than asked for shows a file that grew meanwhile.
    if (got != length) return got == -1 ? DiskStatus::READ_ERROR : DiskStatus::BAD_IMAGE;
    bytes.pop_back();
    bytes.shrink_to_fit();
    image.bytes = std::move(bytes);
    return DiskStatus::OK;
}

DiskStatus d64_directory(const D64Image& image, DiskListing& listing) {
    const std::vector<uint8_t>& bytes = image.bytes;
    if (!valid_size(bytes.size())) return DiskStatus::BAD_IMAGE;
    std::vector<EntryPlace> places;
    SectorSet directory;
    if (DiskStatus status = directory_entries(bytes, places, directory); status != DiskStatus::OK) return status;

    const uint8_t* bam = sector_at(bytes, DIR_TRACK, BAM_SECTOR);
    listing.disk_name = unpadded(bam + BAM_DISK_NAME, NAME_LENGTH);
    listing.disk_id.clear();
    for (unsigned i = 0; i < DISK_ID_LENGTH; i++) {
        uint8_t c = bam[BAM_DISK_ID + i];
        listing.disk_id += char(c == PAD ? ' ' : c);
    }
    listing.files.clear();
    for (const EntryPlace& place : places) {
        const uint8_t* entry = sector_at(bytes, place.track, place.sector) + place.slot * ENTRY_SIZE;
        if (entry[ENTRY_TYPE] != 0) listing.files.push_back(file_of(entry));
    }
    listing.blocks_free = 0;
    for (unsigned t = 1; t <= TRACKS; t++)
        if (t != DIR_TRACK) listing.blocks_free += bam_entry(bytes, t)[0];
    return DiskStatus::OK;
}

DiskStatus d64_read_file(const D64Image& image, const DiskFile& file, std::vector<uint8_t>& data) {
    if (!valid_size(image.bytes.size())) return DiskStatus::BAD_IMAGE;
    return read_chain_data(image.bytes, file.track, file.sector, data);
}

DiskStatus d64_write_file(D64Image& image, const std::string& name, const std::vector<uint8_t>& data, bool replace,
                          uint8_t type, uint8_t record_length) {
    if (!valid_size(image.bytes.size())) return DiskStatus::BAD_IMAGE;
    // A sector cannot say that it holds no data at all.
    if (name.empty() || data.empty()) return DiskStatus::WRITE_ERROR;
    const bool rel = (type & TYPE_MASK) == TYPE_REL;
    if (rel && record_length == 0) return DiskStatus::WRITE_ERROR;
    std::string stored = name.substr(0, NAME_LENGTH);
    std::vector<uint8_t> bytes = image.bytes;

    std::vector<EntryPlace> places;
    SectorSet directory;
    if (DiskStatus status = directory_entries(bytes, places, directory); status != DiskStatus::OK) return status;
    directory[sector_index(DIR_TRACK, BAM_SECTOR)] = true;  // so taken by nothing, whatever the BAM says
    const EntryPlace* existing = find_entry(bytes, places, stored);
    const EntryPlace* empty = nullptr;
    for (const EntryPlace& place : places)
        if (entry_at(bytes, place)[ENTRY_TYPE] == 0) {
            empty = &place;
            break;
        }
    Chain old;
    if (existing) {
        const uint8_t* entry = entry_at(bytes, *existing);
        if (!replace || (entry[ENTRY_TYPE] & TYPE_LOCKED)) return DiskStatus::EXISTS;
        if (DiskStatus status = file_sectors(bytes, entry, old); status != DiskStatus::OK) return status;
    }

    // The new blocks, while the old file still holds its own: a replacement
    // that does not fit beside the old file fails and keeps it.
    size_t blocks = (data.size() + DATA_PER_SECTOR - 1) / DATA_PER_SECTOR;
    size_t sides = rel ? (blocks + SIDE_BLOCKS - 1) / SIDE_BLOCKS : 0;
    if (sides > SIDE_SECTORS_MAX) return DiskStatus::DISK_FULL;
    Chain chain;
    Allocator allocator{bytes, directory};
    for (size_t i = 0; i < blocks + sides; i++) {
        if (!allocator.next()) return DiskStatus::DISK_FULL;
        chain.push_back({allocator.track, allocator.sector});
    }
    auto link = [&](uint8_t* sector, size_t next, size_t end, unsigned last_index) {
        if (next < end) {
            sector[0] = uint8_t(chain[next].first);
            sector[1] = uint8_t(chain[next].second);
        } else {
            sector[0] = 0;
            sector[1] = uint8_t(last_index);
        }
    };
    for (size_t i = 0; i < blocks; i++) {
        uint8_t* sector = sector_at(bytes, chain[i].first, chain[i].second);
        size_t from = i * DATA_PER_SECTOR;
        size_t count = std::min<size_t>(DATA_PER_SECTOR, data.size() - from);
        std::fill(sector, sector + SECTOR_SIZE, 0);
        link(sector, i + 1, blocks, unsigned(count + 1));
        std::copy_n(data.begin() + long(from), count, sector + 2);
    }
    for (size_t side = 0; side < sides; side++) {
        uint8_t* sector = sector_at(bytes, chain[blocks + side].first, chain[blocks + side].second);
        std::fill(sector, sector + SECTOR_SIZE, 0);
        size_t listed = std::min<size_t>(SIDE_BLOCKS, blocks - side * SIDE_BLOCKS);
        link(sector, blocks + side + 1, blocks + sides, unsigned(SIDE_DATA + 2 * listed - 1));
        sector[SIDE_NUMBER] = uint8_t(side);
        sector[SIDE_RECORD_LENGTH] = record_length;
        for (size_t k = 0; k < sides; k++) {
            sector[SIDE_LIST + 2 * k] = uint8_t(chain[blocks + k].first);
            sector[SIDE_LIST + 2 * k + 1] = uint8_t(chain[blocks + k].second);
        }
        for (size_t k = 0; k < listed; k++) {
            sector[SIDE_DATA + 2 * k] = uint8_t(chain[side * SIDE_BLOCKS + k].first);
            sector[SIDE_DATA + 2 * k + 1] = uint8_t(chain[side * SIDE_BLOCKS + k].second);
        }
    }

    EntryPlace place;
    if (existing) {
        // A damaged BAM may have shown some of the old file's sectors free
        // and given them to the new one; the directory and BAM stay in use.
        for (auto [t, s] : old)
            if (std::find(chain.begin(), chain.end(), std::pair{t, s}) == chain.end() &&
                !directory[sector_index(t, s)])
                mark(bytes, t, s, true);
        place = *existing;
    } else if (empty) {
        place = *empty;
    } else if (!extend_directory(bytes, places.back(), directory, place)) {
        return DiskStatus::DISK_FULL;
    }
    // Bytes 0-1 of an entry are the sector's link in the first slot.
    uint8_t* entry = entry_at(bytes, place);
    std::fill(entry + ENTRY_TYPE, entry + ENTRY_SIZE, 0);
    entry[ENTRY_TYPE] = uint8_t(type | TYPE_CLOSED);
    entry[ENTRY_TRACK] = uint8_t(chain[0].first);
    entry[ENTRY_SECTOR] = uint8_t(chain[0].second);
    put_padded(entry + ENTRY_NAME, stored, NAME_LENGTH);
    if (rel) {
        entry[ENTRY_SIDE_TRACK] = uint8_t(chain[blocks].first);
        entry[ENTRY_SIDE_SECTOR] = uint8_t(chain[blocks].second);
        entry[ENTRY_RECORD_LENGTH] = record_length;
    }
    entry[ENTRY_BLOCKS] = uint8_t(blocks + sides);
    entry[ENTRY_BLOCKS + 1] = uint8_t((blocks + sides) >> 8);

    image.bytes.swap(bytes);
    return DiskStatus::OK;
}

DiskStatus d64_scratch(D64Image& image, const std::string& name) {
    if (!valid_size(image.bytes.size())) return DiskStatus::BAD_IMAGE;
    std::vector<uint8_t> bytes = image.bytes;
    std::vector<EntryPlace> places;
    SectorSet directory;
    if (DiskStatus status = directory_entries(bytes, places, directory); status != DiskStatus::OK) return status;
    const EntryPlace* place = find_entry(bytes, places, name);
    if (!place) return DiskStatus::NOT_FOUND;
    uint8_t* entry = entry_at(bytes, *place);
    if (entry[ENTRY_TYPE] & TYPE_LOCKED) return DiskStatus::WRITE_PROTECTED;
    // An unclosed file's chain may run anywhere: only its entry goes.
    Chain chain;
    if ((entry[ENTRY_TYPE] & TYPE_CLOSED) && file_sectors(bytes, entry, chain) == DiskStatus::OK)
        for (auto [t, s] : chain)
            if (t != DIR_TRACK) mark(bytes, t, s, true);
    entry[ENTRY_TYPE] = 0;
    image.bytes.swap(bytes);
    return DiskStatus::OK;
}

DiskStatus d64_rename(D64Image& image, const std::string& from, const std::string& to) {
    if (!valid_size(image.bytes.size())) return DiskStatus::BAD_IMAGE;
    std::vector<EntryPlace> places;
    SectorSet directory;
    if (DiskStatus status = directory_entries(image.bytes, places, directory); status != DiskStatus::OK) return status;
    if (find_entry(image.bytes, places, to.substr(0, NAME_LENGTH))) return DiskStatus::EXISTS;
    const EntryPlace* place = find_entry(image.bytes, places, from);
    if (!place) return DiskStatus::NOT_FOUND;
    put_padded(entry_at(image.bytes, *place) + ENTRY_NAME, to.substr(0, NAME_LENGTH), NAME_LENGTH);
    return DiskStatus::OK;
}

DiskStatus d64_validate(D64Image& image) {
    if (!valid_size(image.bytes.size())) return DiskStatus::BAD_IMAGE;
    std::vector<uint8_t> bytes = image.bytes;
    std::vector<EntryPlace> places;
    SectorSet directory;
    if (DiskStatus status = directory_entries(bytes, places, directory); status != DiskStatus::OK) return status;
    SectorSet used = directory;
    used[sector_index(DIR_TRACK, BAM_SECTOR)] = true;
    for (const EntryPlace& place : places) {
        uint8_t* entry = entry_at(bytes, place);
        if (entry[ENTRY_TYPE] == 0) continue;
        Chain chain;
        // Unclosed files and files that do not read go, as on the drive.
        std::vector<uint8_t> data;
        if (!(entry[ENTRY_TYPE] & TYPE_CLOSED) || file_sectors(bytes, entry, chain) != DiskStatus::OK ||
            read_chain_data(bytes, entry[ENTRY_TRACK], entry[ENTRY_SECTOR], data) != DiskStatus::OK) {
            entry[ENTRY_TYPE] = 0;
            continue;
        }
        for (auto [t, s] : chain) used[sector_index(t, s)] = true;
    }
    for (unsigned t = 1; t <= TRACKS; t++)
        for (unsigned s = 0; s < sectors_in(t); s++) mark(bytes, t, s, !used[sector_index(t, s)]);
    image.bytes.swap(bytes);
    return DiskStatus::OK;
}

DiskStatus d64_format(D64Image& image, const std::string& disk_name, const std::string& disk_id) {
    if (!valid_size(image.bytes.size())) return DiskStatus::BAD_IMAGE;
    std::string id = disk_id;
    if (id.empty()) {
        // A short new: the old id stays, the directory is emptied.
        const uint8_t* bam = sector_at(image.bytes, DIR_TRACK, BAM_SECTOR);
        id.assign(reinterpret_cast<const char*>(bam + BAM_DISK_ID), 2);
    }
    D64Image fresh = d64_blank(disk_name, id);
    std::copy(fresh.bytes.begin(), fresh.bytes.end(), image.bytes.begin());
    std::fill(image.bytes.begin() + long(D64_SIZE), image.bytes.end(), 0);
    return DiskStatus::OK;
}

uint8_t* d64_sector(D64Image& image, unsigned track, unsigned sector) {
    if (!valid_size(image.bytes.size()) || !valid_sector(track, sector)) return nullptr;
    return sector_at(image.bytes, track, sector);
}

DiskStatus d64_allocate(D64Image& image, unsigned track, unsigned sector, bool allocate) {
    if (!valid_size(image.bytes.size())) return DiskStatus::BAD_IMAGE;
    if (!valid_sector(track, sector)) return DiskStatus::ILLEGAL_SECTOR;
    if (allocate && !is_free(image.bytes, track, sector)) return DiskStatus::NO_BLOCK;
    mark(image.bytes, track, sector, !allocate);
    return DiskStatus::OK;
}

DiskStatus d64_write_image(const char* path, const D64Image& image) {
    if (!valid_size(image.bytes.size())) return DiskStatus::WRITE_ERROR;
    return replace_file(path, {{image.bytes.data(), image.bytes.size()}}) == 0 ? DiskStatus::OK
                                                                                : DiskStatus::WRITE_ERROR;
}

D64Image d64_blank(const std::string& disk_name, const std::string& disk_id) {
    D64Image image{std::vector<uint8_t>(D64_SIZE, 0)};
    std::vector<uint8_t>& bytes = image.bytes;
    uint8_t* bam = sector_at(bytes, DIR_TRACK, BAM_SECTOR);
    bam[0] = DIR_TRACK;
    bam[1] = FIRST_DIR_SECTOR;
    bam[BAM_DOS_VERSION] = 'A';
    for (unsigned t = 1; t <= TRACKS; t++)
        for (unsigned s = 0; s < sectors_in(t); s++) mark(bytes, t, s, true);
    mark(bytes, DIR_TRACK, BAM_SECTOR, false);
    mark(bytes, DIR_TRACK, FIRST_DIR_SECTOR, false);
    std::fill(bam + BAM_DISK_NAME, bam + BAM_HEADER_END, PAD);
    put_padded(bam + BAM_DISK_NAME, disk_name.substr(0, NAME_LENGTH), NAME_LENGTH);
    put_padded(bam + BAM_DISK_ID, disk_id.substr(0, 2), 2);
    bam[BAM_DOS_TYPE] = '2';
    bam[BAM_DOS_TYPE + 1] = 'A';
    sector_at(bytes, DIR_TRACK, FIRST_DIR_SECTOR)[1] = 0xFF;
    return image;
}
