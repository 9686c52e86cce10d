#pragma once

#include <QString>

/// The login dialog ends two texts with a full stop and shows unknown codes bare; the tabs add the
/// codes to the unknown-error text.
enum class LoginTextVariant { Dialog, Tab };

/// The operator text for a login error code; `lastError` is the SDK's last error (tab variant only).
QString loginErrorText(int code, LoginTextVariant variant, long lastError);

/// The tabs' text, with the calling thread's last SDK error.
QString loginErrorText(int code);
