// The host's export step run off the UI thread: the user's selection prepared for the plug-in
// (host::prepareSelection) on a worker thread while the window goes on handling events. Only the
// newest preparation counts: starting another, or stop(), makes the one running stop after the
// photos it is on, its result is never delivered and its folder is removed. What each
// preparation made is kept for the next (imaging::PreparationCache), so that adding or removing a
// photo prepares only what that needs, without decoding the other photos again. Progress and the
// result of the newest preparation arrive on the main thread, through the handlers, while
// `context` lives. The destructor stops and waits for the worker. Main thread only; not copyable.
#pragma once

#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/photo_export.h"
#include "host/scratch_folder.h"
#include "imaging/photo_preparation.h"

namespace marigold::gui {

class SelectionPreparer {
 public:
  using ProgressHandler = std::function<void(std::size_t done, std::size_t total)>;
  // A preparation that could not run at all (no folder could be made) comes with every photo
  // left out, the reason as its problem.
  using ResultHandler = std::function<void(host::PreparedSelection)>;

  SelectionPreparer(const host::ScratchFolder& scratch, QObject& context, ProgressHandler progress,
                    ResultHandler result);
  ~SelectionPreparer();
  SelectionPreparer(const SelectionPreparer&) = delete;
  SelectionPreparer& operator=(const SelectionPreparer&) = delete;

  void start(std::vector<std::string> originals, imaging::PreparationOptions options);
  void stop();
  bool running() const { return running_; }

 private:
  void prepare(int generation, const std::vector<std::string>& originals,
               const imaging::PreparationOptions& options);
  bool current(int generation) const { return generation_.load() == generation; }

  const host::ScratchFolder& scratch_;
  imaging::PreparationCache cache_;  // used by one preparation at a time, on the worker
  QObject& context_;
  ProgressHandler progress_;
  ResultHandler result_;
  std::atomic<int> generation_{0};  // the newest preparation's number, read by the worker
  bool running_ = false;
  QThreadPool worker_;
};

// Removes a preparation's folder and what is in it; quietly does nothing when it is gone.
void discardPreparation(const host::PreparedSelection& prepared);

}  // namespace marigold::gui
