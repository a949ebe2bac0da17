// Drives 8 to 11 in a snapshot: what each holds, by name, its DOS's
// channels and its part on the serial bus. Loading attaches that folder or
// image again when it is not what the drive holds already, and empties a
// drive that held nothing.
#include "drive_state.h"

#include <filesystem>
#include <vector>

#include "../core/snapshot.h"
#include "d64.h"
#include "dos.h"
#include "drive_media.h"
#include "serial_bus.h"

namespace {

std::string text_of(const FieldView* f) {
    return f ? std::string(reinterpret_cast<const char*>(f->data), f->size) : "";
}

template <unsigned UNIT>
void save_drive(std::vector<uint8_t>& body) {
    const std::string image = drive_image_name(UNIT), folder = drive_folder_name(UNIT);
    put_field(body, "image", image.data(), uint32_t(image.size()));
    put_field(body, "folder", folder.data(), uint32_t(folder.size()));
    dos_save_state(UNIT, body);
    bus_save_state(UNIT, body);
}

// The medium first, so that the channels loaded after it belong to it.
template <unsigned UNIT>
bool load_drive(const uint8_t* body, size_t size, bool apply) {
    std::vector<FieldView> found;
    if (!parse_fields(body, size, found) || !dos_load_state(UNIT, found, false) || !bus_load_state(UNIT, found, false))
        return false;
    const std::string image = text_of(find_field(found, "image")), folder = text_of(find_field(found, "folder"));
    const bool same = image == drive_image_name(UNIT) && folder == drive_folder_name(UNIT);
    if (!apply) {
        if (same || (image.empty() && folder.empty())) return true;
        std::error_code ec;
        D64Image d64;
        return image.empty() ? std::filesystem::is_directory(folder, ec)
                             : d64_read_image(image.c_str(), d64) == DiskStatus::OK;
    }
    bool attached = true;
    if (!same && image.empty() && folder.empty()) drive_detach(UNIT);
    else if (!same) attached = image.empty() ? drive_use_folder(UNIT, folder) : drive_attach_image(UNIT, image);
    dos_load_state(UNIT, found, true);
    bus_load_state(UNIT, found, true);
    return attached;
}

}  // namespace

void add_drive_state() {
    add_state_section("drive8", save_drive<8>, load_drive<8>);
    add_state_section("drive9", save_drive<9>, load_drive<9>);
    add_state_section("drive10", save_drive<10>, load_drive<10>);
    add_state_section("drive11", save_drive<11>, load_drive<11>);
}
