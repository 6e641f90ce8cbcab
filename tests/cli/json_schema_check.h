// Checks a JSON value against the subset of JSON Schema that docs/json.schema.json uses:
// $ref to "#/$defs/NAME", oneOf, type (one name or a list), const, enum, required,
// properties, additionalProperties false, minimum and maximum.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace tavo::test {

// Empty when value conforms to schema (root: the whole schema document, for $ref);
// otherwise why not, with the path of the first part that does not.
std::string SchemaViolation(const nlohmann::json& value, const nlohmann::json& schema,
                            const nlohmann::json& root, const std::string& path = "$");

// A schema keyword the checker does not know, anywhere in the document; empty when none
// (so that a schema change the checker would silently ignore fails the test instead).
std::string UnknownSchemaKeyword(const nlohmann::json& schema);

}  // namespace tavo::test
