#pragma once

#include <QString>

namespace FileManager
{
/// Asks the desktop's file manager to show `path` selected, without waiting for it; where no file
/// manager service answers, the folder holding `path` is opened instead.
void showItem(const QString &path);
} // namespace FileManager
