#include "post_draft.h"

#include <system_error>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/home_directory.h"
#include "platform/property_list.h"

namespace marigold::gui {
namespace {

constexpr const char* kPhotos = "photos";
// The texts, by the keys they are kept under.
constexpr std::pair<const char*, std::string PostDraft::*> kTexts[] = {
    {"caption", &PostDraft::caption}, {"tags", &PostDraft::tags},   {"link", &PostDraft::link},
    {"blog", &PostDraft::blog},       {"state", &PostDraft::state},
};

}  // namespace

std::filesystem::path draftFile() { return stateFolder() / "draft.plist"; }

std::optional<Error> keepDraft(const PostDraft& draft, const std::filesystem::path& file) {
  if (auto failed = makePrivateFolder(file.parent_path())) return failed;
  PropertyList::Array photos;
  for (const std::string& photo : draft.photos) photos.emplace_back(photo);
  PropertyList::Dictionary entries{{kPhotos, PropertyList(std::move(photos))}};
  for (const auto& [key, member] : kTexts) entries.emplace(key, PropertyList(draft.*member));
  const std::string xml = PropertyList(std::move(entries)).toXML();
  return replaceFileAtomically(file, asBytes(xml));
}

std::optional<PostDraft> keptDraft(const std::filesystem::path& file) {
  const auto bytes = readWholeFile(file);
  if (!bytes) return std::nullopt;
  const auto parsed = PropertyList::parse(*bytes);
  const auto* entries = parsed.value ? parsed.value->get<PropertyList::Dictionary>() : nullptr;
  if (entries == nullptr) return std::nullopt;
  PostDraft draft;
  const auto photos = entries->find(kPhotos);
  const auto* list = photos != entries->end() ? photos->second.get<PropertyList::Array>() : nullptr;
  if (list == nullptr) return std::nullopt;
  for (const PropertyList& photo : *list) {
    if (const auto* path = photo.get<std::string>()) draft.photos.push_back(*path);
  }
  for (const auto& [key, member] : kTexts) {
    const auto entry = entries->find(key);
    if (entry == entries->end()) continue;
    if (const auto* text = entry->second.get<std::string>()) draft.*member = *text;
  }
  return draft;
}

void forgetDraft(const std::filesystem::path& file) {
  std::error_code ignored;  // none kept is what is wanted
  std::filesystem::remove(file, ignored);
}

}  // namespace marigold::gui
