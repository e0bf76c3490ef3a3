// Which of a photo's metadata a prepared photo may carry, by the key exiv2 gives each datum
// ("Exif.Photo.DateTimeOriginal", "Xmp.dc.title", "Iptc.Application2.City"). Kept metadata is
// chosen from a list of what is known to be safe (date and time, exposure, lens and camera
// model, orientation, title, description, keywords, creator, copyright, rating), never by
// dropping what is known to be sensitive: a field of a namespace nobody listed (a drone's own
// XMP, a maker's note) is left out. A second, separate test tells what reveals where a photo was
// taken or which camera took it, in any namespace; the preparation uses it to judge the source
// and to check what it wrote. Pure functions of the key.
#pragma once

#include <string_view>

#include "imaging/photo_choices.h"

namespace marigold::imaging {

// Whether a prepared photo keeps this datum of its source under `choice`. kKeepAll keeps every
// datum; kRemoveAll none; kRemoveLocation the safe list; kKeepLocation the safe list and the
// standard location fields (GPS, place names).
bool keeps(std::string_view key, MetadataChoice choice);

// Whether the datum tells where the photo was taken: GPS in any namespace, place names (city,
// sub-location, state, country, the location shown or created).
bool revealsLocation(std::string_view key);

// Whether the datum tells which camera or lens took it or who owns them: serial numbers and owner
// names in any namespace, and makers' notes, which carry both in forms of their own.
bool revealsCamera(std::string_view key);

}  // namespace marigold::imaging
