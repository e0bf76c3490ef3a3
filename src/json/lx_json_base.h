// The state shared by the JSON parser and writer: the error trace of the last parse or write, the
// nesting depth while one runs, and the nesting limit. Errors carry the domain kLxJSONErrorDomain;
// each error after the first has the one recorded before it as its underlying error. Observers may
// watch the trace and hear about every change to it, just before and just after. Not copyable;
// one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"

namespace marigold {

inline constexpr const char* kLxJSONErrorDomain = "org.vantrell.JSON.ErrorDomain";

class LxJsonBase {
 public:
  enum class TraceChange { kWillChange, kDidChange };
  using TraceObserver = std::function<void(TraceChange)>;

  static constexpr std::uint64_t kDefaultMaxDepth = 512;

  LxJsonBase() = default;  // maxDepth 512, no trace
  LxJsonBase(const LxJsonBase&) = delete;
  LxJsonBase& operator=(const LxJsonBase&) = delete;
  virtual ~LxJsonBase() = default;

  // Nesting limit for arrays and objects together; 0 means no limit.
  std::uint64_t maxDepth() const { return maxDepth_; }
  void setMaxDepth(std::uint64_t maxDepth) { maxDepth_ = maxDepth; }
  // Nesting depth reached by the running (or last) parse or write.
  std::uint64_t depth() const { return depth_; }

  // Every error since the last clearErrorTrace, oldest first; absent until the first error.
  const std::optional<std::vector<Error>>& errorTrace() const { return errorTrace_; }
  // The trace on one line, for logs: "(ERROR, ERROR, ...)" with each error's text.
  std::string errorTraceText() const;

  // Appends an error whose underlying error is the previous last one, creating the trace if needed.
  void addErrorWithCode(unsigned code, std::string description);
  // Drops the trace; it becomes absent.
  void clearErrorTrace();

  // Registers an observer of the trace; returns an id for removeErrorTraceObserver.
  int addErrorTraceObserver(TraceObserver observer);
  void removeErrorTraceObserver(int id);

 protected:
  std::uint64_t depth_ = 0;

 private:
  void notify(TraceChange change) const;

  std::uint64_t maxDepth_ = kDefaultMaxDepth;
  std::optional<std::vector<Error>> errorTrace_;
  std::vector<std::pair<int, TraceObserver>> observers_;
  int nextObserverId_ = 1;
};

}  // namespace marigold
