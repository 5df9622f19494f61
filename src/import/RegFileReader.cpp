#include "import/RegFileReader.h"

#include "store/RegTypes.h"

namespace quern {

std::string RegFileKey::fullPath() const {
    return rootName;
}

bool parseRegFile(std::string_view, std::string_view fileName, RegFileContent& content, std::string& error) {
    content = {};
    error = std::string(fileName) + ":1: expected a registry file (the reader is not built yet)";
    return false;
}

bool readRegFile(const std::string& path, RegFileContent& content, std::string& error) {
    return parseRegFile({}, path, content, error);
}

} // namespace quern
