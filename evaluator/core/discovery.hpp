// Rules of codec discovery that are worth testing on their own.
#pragma once

#include <string_view>

namespace vntr::evaluator {

// A registry subkey name names a library file ("<name>.so" in the codec
// folder) and the temporary files ("<name>.~c0", "<name>.~d0"), so it must
// be a plain file-name stem: not empty, no '/' or '\', no "..", no leading
// '.', no control character.  Anything else could reach outside those folders.
bool IsFileNameStem(std::string_view name);

} // namespace vntr::evaluator
