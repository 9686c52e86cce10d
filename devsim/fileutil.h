#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devsim
{

/// Writes data to path through a temporary file in the same directory and a rename, so that a
/// reader sees either the old or the new content, never a half-written file.
bool writeFileAtomic(const std::string &path, const void *data, size_t size, std::string *error);
inline bool writeFileAtomic(const std::string &path, const std::string &text, std::string *error)
{
    return writeFileAtomic(path, text.data(), text.size(), error);
}
bool readWholeFile(const std::string &path, std::string *out, std::string *error);
/// mkdir -p for one path; true if it exists afterwards.
bool makeDirs(const std::string &path, std::string *error);
/// Removes everything below dir (not dir itself).
bool clearDir(const std::string &dir, std::string *error);
std::string hexText(const uint8_t *data, size_t size);
/// Regular files below dir, relative to it, sorted.
std::vector<std::string> listFiles(const std::string &dir);
/// Runs a program found on PATH with its output discarded; its exit status, or -1 when it cannot
/// start, dies or outlives timeoutMs (it is then killed).
int runProgram(const std::vector<std::string> &argv, int timeoutMs);

} // namespace devsim
