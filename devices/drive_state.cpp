// Drive 8 in a snapshot: what it holds, by name. Loading attaches that
// folder or image again when it is not what the drive holds already.
#include "drive_state.h"

#include <filesystem>
#include <vector>

#include "../core/snapshot.h"
#include "d64.h"
#include "drive8.h"

namespace {

std::string text_of(const FieldView* f) {
    return f ? std::string(reinterpret_cast<const char*>(f->data), f->size) : "";
}

void save_drive(std::vector<uint8_t>& body) {
    const std::string image = drive8_image_name(), folder = drive8_folder_name();
    put_field(body, "image", image.data(), uint32_t(image.size()));
    put_field(body, "folder", folder.data(), uint32_t(folder.size()));
}

bool load_drive(const uint8_t* body, size_t size, bool apply) {
    std::vector<FieldView> found;
    if (!parse_fields(body, size, found)) return false;
    const std::string image = text_of(find_field(found, "image")), folder = text_of(find_field(found, "folder"));
    const bool same = image == drive8_image_name() && (!image.empty() || folder == drive8_folder_name());
    if (!apply || same) {
        if (same) return true;
        std::error_code ec;
        D64Image d64;
        return image.empty() ? std::filesystem::is_directory(folder, ec)
                             : d64_read_image(image.c_str(), d64) == DiskStatus::OK;
    }
    return image.empty() ? drive8_use_folder(folder) : drive8_attach_image(image);
}

}  // namespace

void add_drive_state() { add_state_section("drive8", save_drive, load_drive); }
