#include "selection_preparer.h"

#include <QMetaObject>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

namespace marigold::gui {

SelectionPreparer::SelectionPreparer(const host::ScratchFolder& scratch, QObject& context,
                                     ProgressHandler progress, ResultHandler result)
    : scratch_(scratch),
      cache_(scratch.newFolder("kept")),
      context_(context),
      progress_(std::move(progress)),
      result_(std::move(result)) {
  // One preparation at a time; the preparation itself spreads its photos over the cores.
  worker_.setMaxThreadCount(1);
}

SelectionPreparer::~SelectionPreparer() {
  stop();
  worker_.waitForDone();
}

void SelectionPreparer::start(std::vector<std::string> originals,
                              imaging::PreparationOptions options) {
  const int generation = ++generation_;
  running_ = true;
  worker_.clear();  // a preparation that has not begun yet never will
  worker_.start([this, generation, originals = std::move(originals), options] {
    if (current(generation)) prepare(generation, originals, options);
  });
}

void SelectionPreparer::stop() {
  ++generation_;
  running_ = false;
  worker_.clear();
}

void SelectionPreparer::prepare(int generation, const std::vector<std::string>& originals,
                                const imaging::PreparationOptions& options) {
  auto progress = [this, generation](std::size_t done, std::size_t total) {
    if (!current(generation)) return false;
    QMetaObject::invokeMethod(
        &context_,
        [this, generation, done, total] {
          if (current(generation) && progress_) progress_(done, total);
        },
        Qt::QueuedConnection);
    return true;
  };
  host::PreparedSelection prepared;
  try {
    prepared = host::prepareSelection(scratch_, originals, options, progress, &cache_);
  } catch (const std::exception& e) {
    for (const std::string& original : originals) {
      imaging::PreparedPhoto photo;
      photo.source = original;
      photo.problem = std::string("cannot be prepared: ") + e.what();
      prepared.result.photos.push_back(std::move(photo));
    }
  }
  if (!current(generation) || prepared.result.cancelled) {
    discardPreparation(prepared);
    return;
  }
  QMetaObject::invokeMethod(
      &context_,
      [this, generation, prepared = std::move(prepared)] {
        if (!current(generation)) {
          discardPreparation(prepared);
          return;
        }
        running_ = false;
        if (result_) result_(prepared);
      },
      Qt::QueuedConnection);
}

void discardPreparation(const host::PreparedSelection& prepared) {
  if (prepared.folder.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(prepared.folder, ignored);
}

}  // namespace marigold::gui
