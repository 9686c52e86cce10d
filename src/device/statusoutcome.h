#pragma once

#include <QString>

/// What a status text says about the device's last step.
enum class StatusOutcome { Neutral, Success, Failure };

/// Decides from a status-column text (English or translated) whether it reports a failure, a success
/// or neither (progress, a step under way, an OEMID read back). The one place that knows which texts
/// of the tabs are final results.
StatusOutcome statusOutcome(const QString &text);
inline bool isFailureStatus(const QString &text)
{
    return statusOutcome(text) == StatusOutcome::Failure;
}
