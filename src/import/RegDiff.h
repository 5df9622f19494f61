#pragma once

#include "base/Status.h"
#include "import/RegImport.h"

#include <string>
#include <string_view>

namespace quern {

// The text of a "Windows Registry Editor Version 5.00" file that makes plan's changes when it is
// imported: [-KEY] for a key deleted (with all below it), [KEY] with its values for a key added
// or changed, "NAME"=- (@=- for the default value) for a value deleted; values in the lossless
// form, so the file gives back every type and byte. UTF-8 lines ending in CR LF, without the
// byte-order mark the file form adds. BadPath, naming the key, when a key's name holds a line
// break, which a key line cannot carry: such a file would change another key. InvalidData, naming
// the key, when a link key is added or leads elsewhere: an import opens a link's path as the key it
// leads to, so the file would change that key instead.
[[nodiscard]] reg::Status changesAsRegText(const ImportPlan& plan, std::string& text);

// The same text as the file it is (UTF-16LE after its byte-order mark), written whole under path
// or not at all.
[[nodiscard]] reg::Status writeChangesFile(const std::string& path, const std::string& text);

} // namespace quern
