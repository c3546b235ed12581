// Report documents whatever bytes the names in them hold.  File names (and
// the names a session stores) are bytes, not text: a string that is not
// UTF-8 is written with each invalid byte replaced by U+FFFD, and a sibling
// member "<key>Bytes" keeps its exact bytes, escaped.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace vntr::report {

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong
// forms, no surrogates, nothing beyond U+10FFFF.
bool IsUtf8(std::string_view text);

// Printable ASCII as it is, '%' and every other byte as "%XX" (upper-case
// hex): "caf\xe9.wav" gives "caf%E9.wav".
std::string EscapedBytes(std::string_view text);

// For every member of an object (at any depth) whose string is not UTF-8,
// adds "<key>Bytes" with its escaped bytes; for a member whose array holds
// such strings, adds "<key>Bytes" as an array of the same length with the
// escaped bytes of those strings and null for the others.
void MarkRawBytes(nlohmann::json &value);

// value.dump(2), with the bytes that are not UTF-8 replaced instead of
// refused.
std::string ReportText(const nlohmann::json &value);

// Writes a report whole into a new file that replaces `path` once complete
// (whatever fails, the previous file stays as it was); false with the
// reason in `error`.
bool WriteReport(const std::string &path, const std::string &text, std::string &error);
// ": <the system's reason>" for the last failed call, or nothing.
std::string SystemReason();

} // namespace vntr::report
