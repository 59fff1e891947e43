#include "lib/run_log.h"

#include <mutex>

namespace {

struct TRunLog {
  std::mutex lock;
  TRunLogSink sink;
};

TRunLog& Log() {
  static TRunLog* log = new TRunLog();  // lines may come from threads at exit
  return *log;
}

}  // namespace

void SetRunLogSink(TRunLogSink sink) {
  std::lock_guard lock(Log().lock);
  Log().sink = std::move(sink);
}

bool RunLogEnabled() {
  std::lock_guard lock(Log().lock);
  return static_cast<bool>(Log().sink);
}

void RunLog(StringView text) {
  std::lock_guard lock(Log().lock);
  if (!Log().sink) return;
  size_t start = 0;
  for (;;) {
    size_t end = text.find_first_of(u"\r\n", start);
    if (end == StringView::npos) end = text.size();
    Log().sink(text.substr(start, end - start));
    if (end == text.size()) break;
    start = end + 1;
    if (text[end] == u'\r' && start < text.size() && text[start] == u'\n') ++start;
    if (start == text.size()) break;
  }
}
