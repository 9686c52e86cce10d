#pragma once

#include <QString>

/// What a job's text in a row says about the device: the job states it beside the text, since the
/// words alone cannot tell (they carry codes, OEMIDs and notes, and they are translated).
/// Progress and a step under way are Neutral; a final result is a Success or a Failure.
enum class StatusOutcome { Neutral, Success, Failure };

/// Decides from a status-column text (English or translated) whether it reports a failure, a success
/// or neither (progress, a step under way, an OEMID read back). The one place that knows which texts
/// of the tabs are final results.
StatusOutcome statusOutcome(const QString &text);
inline bool isFailureStatus(const QString &text)
{
    return statusOutcome(text) == StatusOutcome::Failure;
}
