#pragma once

/// What a job's text in a row says about the device: the job states it beside the text, since the
/// words alone cannot tell (they carry codes, OEMIDs and notes, and they are translated). Every
/// writer of a result cell names one; nothing guesses it from the words.
/// Progress and a step under way are Neutral; a final result is a Success or a Failure. Halted is a
/// device a staged run never started because an earlier wave failed: neither success nor failure.
/// Unsupported is a step the device's protocol has no way to do (an OEMID or a logo over ONVIF): a
/// final result, again neither success nor failure.
enum class StatusOutcome { Neutral, Success, Failure, Halted, Unsupported };
