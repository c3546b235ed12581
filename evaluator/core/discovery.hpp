// Rules of codec discovery that are worth testing on their own.
#pragma once

#include <vntr/platform/registry.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vntr::evaluator {

// Walks the subkeys of a key by index from 0: `enumerate` gives the name at
// an index or the registry's status, `visit` takes each name and says whether
// more are wanted.  The walk ends when there are no more items.  An index
// whose enumeration fails otherwise (a name too long for the buffer, a
// registry that did not answer) is skipped and the walk goes on with the
// next; only a failure at or past `subKeys` (the number of subkeys the key had
// when the walk began) other than a too-long name ends it, so that a registry
// that stops answering for good cannot keep the walk going.
void WalkSubKeys(const std::function<platform::RegStatus(uint32_t, std::string &)> &enumerate, uint32_t subKeys,
                 const std::function<bool(const std::string &)> &visit);

// A registry subkey name names a library file ("<name>.so" in the codec
// folder) and the temporary files ("<name>.~c0", "<name>.~d0"), so it must
// be a plain file-name stem: not empty, no '/' or '\', no "..", no leading
// '.', no control character.  Anything else could reach outside those folders.
bool IsFileNameStem(std::string_view name);

} // namespace vntr::evaluator
