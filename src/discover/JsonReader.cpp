#include "discover/JsonReader.h"

#include <nlohmann/json.hpp>

namespace quern::discover {

namespace {

using Json = nlohmann::json;

struct TooDeep { };

struct Converter {
    std::size_t nodes = 0;
    std::string error;

    bool convert(const Json& from, ConfigNode& to, int depth) {
        if (++nodes > kMaxConfigNodes) {
            error = "more than " + std::to_string(kMaxConfigNodes) + " values";
            return false;
        }
        if (depth > kMaxConfigDepth) {
            error = "nested more than " + std::to_string(kMaxConfigDepth) + " deep";
            return false;
        }
        if (from.is_object()) {
            to.kind = ConfigNode::Kind::Map;
            for (const auto& [key, value] : from.items()) {
                ConfigNode& child = to.children.emplace_back();
                child.key = key;
                if (!convert(value, child, depth + 1)) return false;
            }
        } else if (from.is_array()) {
            to.kind = ConfigNode::Kind::List;
            for (const auto& item : from)
                if (!convert(item, to.children.emplace_back(), depth + 1)) return false;
        } else if (from.is_string()) {
            to.kind = ConfigNode::Kind::Text;
            to.text = from.get<std::string>();
        } else if (!from.is_null()) {
            to.kind = ConfigNode::Kind::Text;
            to.text = from.dump();
        }
        return true;
    }
};

// nlohmann's message without its own code: "[json.exception.parse_error.101] parse error at line
// 1, column 2: syntax error ..." becomes "parse error at line 1, column 2: syntax error ...".
std::string withoutCode(const std::string& what) {
    const std::size_t close = what.find("] ");
    return what.starts_with("[json.exception.") && close != std::string::npos ? what.substr(close + 2) : what;
}

} // namespace

namespace {

bool readJson(std::string_view text, ConfigNode& root, std::string& error) {
    root = ConfigNode {};
    try {
        // Comments are not JSON, and Heroic writes none: a file with them is not one of its own.
        // Depth is refused as it is met, so that a file of brackets alone builds nothing first.
        const Json::parser_callback_t depthGuard = [](int depth, Json::parse_event_t, Json&) {
            if (depth > kMaxConfigDepth) throw TooDeep {};
            return true;
        };
        const Json document = Json::parse(text.begin(), text.end(), depthGuard);
        Converter converter;
        if (converter.convert(document, root, 0)) return true;
        error = converter.error;
    } catch (const Json::exception& e) {
        error = withoutCode(e.what());
    } catch (const TooDeep&) {
        error = "nested more than " + std::to_string(kMaxConfigDepth) + " deep";
    }
    root = ConfigNode {};
    return false;
}

} // namespace

reg::Status parseJson(std::string_view text, ConfigNode& root) {
    std::string error;
    if (readJson(text, root, error)) return {};
    return { reg::Status::InvalidData, std::move(error) };
}

} // namespace quern::discover
