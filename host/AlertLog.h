// What the external told its user, for a host that must act on it without anyone reading
// the screen. The carbon layer appends every alert to the file that QUILLCAST_ALERT_LOG
// names, one line each: the alert's ID and its four ParamText texts, separated by tabs. The
// external reports a failure as alert 32766 whose second text (^1) is the status in decimal:
// a "Merg" that answered false with -1712 (errAETimeout) beside it timed out, and its client
// may still queue that message; without it the client refused the message.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

namespace host {

constexpr int kExternalErrorAlert = 32766;
constexpr int kTimedOutStatus = -1712;

class AlertLog {
 public:
  AlertLog() = default;
  ~AlertLog();  // removes the log it made
  AlertLog(const AlertLog &) = delete;
  AlertLog &operator=(const AlertLog &) = delete;

  // Follows the file QUILLCAST_ALERT_LOG names when the user set it (from its present end);
  // otherwise makes a private file in the temporary folder and names it there, for the
  // external and whatever it launches. False, with *error, when neither can be had.
  bool Open(std::string *error);
  // The statuses of the external's error alerts appended since the last call.
  std::vector<int> NewErrorStatuses();

 private:
  std::string path_;
  bool own_ = false;
  int fd_ = -1;
  off_t seen_ = 0;
  std::string partial_;  // a line whose end has not been written yet
};

}  // namespace host
