#pragma once

#include "flash/flashprogress.h"

/// The logo burn's reading of a report: no OEMID text; failures and unknown device errors carry the
/// SDK's last error code (" code:%1").
ProgressReport describeLogoProgress(int total, int position, long lastError);
