#include "tests/cli/json_schema_check.h"

#include <set>

namespace tavo::test {

namespace {

using nlohmann::json;

bool HasType(const json& value, const std::string& type) {
  if (type == "string") return value.is_string();
  if (type == "integer") return value.is_number_integer();
  if (type == "boolean") return value.is_boolean();
  if (type == "null") return value.is_null();
  if (type == "object") return value.is_object();
  return false;
}

}  // namespace

std::string SchemaViolation(const json& value, const json& schema, const json& root,
                            const std::string& path) {
  if (schema.contains("$ref")) {
    const std::string ref = schema["$ref"];
    const std::string prefix = "#/$defs/";
    if (ref.rfind(prefix, 0) != 0 || !root["$defs"].contains(ref.substr(prefix.size()))) {
      return path + ": unresolved " + ref;
    }
    return SchemaViolation(value, root["$defs"][ref.substr(prefix.size())], root, path);
  }
  if (schema.contains("oneOf")) {
    int matches = 0;
    std::string why;
    for (const json& option : schema["oneOf"]) {
      const std::string v = SchemaViolation(value, option, root, path);
      if (v.empty()) ++matches;
      // The option for this event says best what is wrong.
      if (!v.empty() && option.contains("$ref") && value.is_object() && value.contains("event") &&
          value["event"].is_string() &&
          option["$ref"] == "#/$defs/" + value["event"].get<std::string>()) {
        why = v;
      }
    }
    if (matches != 1) {
      return why.empty() ? path + ": matches " + std::to_string(matches) + " of oneOf" : why;
    }
  }
  if (schema.contains("type")) {
    bool ok = false;
    if (schema["type"].is_array()) {
      for (const json& t : schema["type"]) ok = ok || HasType(value, t);
    } else {
      ok = HasType(value, schema["type"]);
    }
    if (!ok) return path + ": " + value.dump() + " is not of type " + schema["type"].dump();
  }
  if (schema.contains("const") && value != schema["const"]) {
    return path + ": " + value.dump() + " is not " + schema["const"].dump();
  }
  if (schema.contains("enum")) {
    bool found = false;
    for (const json& e : schema["enum"]) found = found || e == value;
    if (!found) return path + ": " + value.dump() + " is not one of " + schema["enum"].dump();
  }
  if (value.is_number()) {
    if (schema.contains("minimum") && value < schema["minimum"]) return path + ": too small";
    if (schema.contains("maximum") && value > schema["maximum"]) return path + ": too large";
  }
  if (value.is_object()) {
    for (const json& key : schema.value("required", json::array())) {
      if (!value.contains(key.get<std::string>())) return path + ": lacks " + key.dump();
    }
    const json properties = schema.value("properties", json::object());
    for (const auto& [key, item] : value.items()) {
      if (properties.contains(key)) {
        const std::string v = SchemaViolation(item, properties[key], root, path + "." + key);
        if (!v.empty()) return v;
      } else if (schema.value("additionalProperties", true) == false) {
        return path + ": unknown key " + key;
      }
    }
  }
  return {};
}

std::string UnknownSchemaKeyword(const json& schema) {
  static const std::set<std::string> known = {
      "$schema", "$id",  "title",   "$defs",   "$ref",     "oneOf",      "type",
      "const",   "enum", "minimum", "maximum", "required", "properties", "additionalProperties"};
  if (!schema.is_object()) return {};
  for (const auto& [key, item] : schema.items()) {
    if (known.count(key) == 0) return key;
    // Names under $defs and properties are not keywords; their values are schemas.
    if (key == "$defs" || key == "properties") {
      for (const auto& [name, sub] : item.items()) {
        if (std::string k = UnknownSchemaKeyword(sub); !k.empty()) return k;
      }
    } else if (key == "oneOf") {
      for (const json& sub : item) {
        if (std::string k = UnknownSchemaKeyword(sub); !k.empty()) return k;
      }
    }
  }
  return {};
}

}  // namespace tavo::test
