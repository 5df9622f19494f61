#include "discover/YamlReader.h"

#include <yaml-cpp/yaml.h>

namespace quern::discover {

namespace {

struct Converter {
    std::size_t nodes = 0;
    std::string error;

    bool convert(const YAML::Node& from, ConfigNode& to, int depth) {
        if (++nodes > kMaxConfigNodes) {
            error = "more than " + std::to_string(kMaxConfigNodes) + " nodes";
            return false;
        }
        if (depth > kMaxConfigDepth) {
            error = "nested more than " + std::to_string(kMaxConfigDepth) + " deep";
            return false;
        }
        if (from.IsScalar()) {
            to.kind = ConfigNode::Kind::Text;
            to.text = from.Scalar();
            return true;
        }
        if (from.IsSequence()) {
            to.kind = ConfigNode::Kind::List;
            for (const auto& item : from)
                if (!convert(item, to.children.emplace_back(), depth + 1)) return false;
            return true;
        }
        if (from.IsMap()) {
            to.kind = ConfigNode::Kind::Map;
            for (const auto& pair : from) {
                if (!pair.first.IsScalar()) continue;
                ConfigNode& child = to.children.emplace_back();
                child.key = pair.first.Scalar();
                if (!convert(pair.second, child, depth + 1)) return false;
            }
            return true;
        }
        to.kind = ConfigNode::Kind::Null;
        return true;
    }
};

} // namespace

namespace {

bool readYaml(std::string_view text, ConfigNode& root, std::string& error) {
    root = ConfigNode {};
    try {
        const YAML::Node document = YAML::Load(std::string(text));
        Converter converter;
        if (converter.convert(document, root, 0)) return true;
        error = converter.error;
    } catch (const YAML::Exception& e) {
        // "yaml-cpp: error at line 3, column 5: end of map not found": the words after the prefix.
        error = e.mark.is_null() ? e.msg
                                 : "line " + std::to_string(e.mark.line + 1) + ", column "
                + std::to_string(e.mark.column + 1) + ": " + e.msg;
    } catch (const std::exception& e) { // yaml-cpp's own allocation or range failures
        error = e.what();
    }
    root = ConfigNode {};
    return false;
}

} // namespace

reg::Status parseYaml(std::string_view text, ConfigNode& root) {
    std::string error;
    if (readYaml(text, root, error)) return {};
    return { reg::Status::InvalidData, std::move(error) };
}

} // namespace quern::discover
