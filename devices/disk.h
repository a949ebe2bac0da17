// What drive 8 shows the machine, whatever holds the files: a listing of a
// disk and the result of each disk operation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Names are raw PETSCII bytes without the $A0 padding of the directory.
struct DiskFile {
    std::string name;
    uint8_t type;       // the directory's type byte as stored: $82 is a closed PRG file
    uint16_t blocks;    // size in 254-byte blocks, as the directory gives it
    uint8_t track, sector;  // first sector of the file (0, 0 outside a disk image)
    uint8_t record_length = 0;  // of a REL file
    std::string path = {};      // the host file in a folder
};

struct DiskListing {
    std::string disk_name;   // up to 16 bytes
    std::string disk_id;     // the five bytes after the name on the header line, e.g. "ID 2A"
    std::vector<DiskFile> files;  // in directory order; empty slots left out
    unsigned blocks_free;
};

enum class DiskStatus {
    OK, NOT_FOUND, READ_ERROR, DISK_FULL, EXISTS, WRITE_ERROR, BAD_IMAGE,
    WRITE_PROTECTED,  // a read-only image or file, or a locked one
    NO_BLOCK,         // a block asked for is in use already
    ILLEGAL_SECTOR,   // no such track and sector
};
