// The exit statuses a calling script reads; the only result besides output.
#pragma once

namespace tandor {

enum ExitStatus : int {
  kStatusSuccess = 0,
  // Usage shown, expansion stopped, nothing replaced, or output lost.
  kStatusNotDone = 1,
  kStatusWriteFailed = 2,
  kStatusValueNotFound = 3,
};

}  // namespace tandor
