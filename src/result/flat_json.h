// One flat JSON object on one line, the form of the outcome file: strings written escaped, and members
// read one by one into whatever the caller keeps, with no map in between.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace result {

// `text` as a JSON string, quotes included, in UTF-8, after what `out` holds. Control characters are
// escaped, so the string never breaks its line.
void AppendJsonString(std::string& out, std::wstring_view text);

// Calls `member(key, value, isString)` for each member of the one object `text` holds: strings as UTF-8
// with their escapes resolved, numbers as their characters. False for anything else (a nested value, a
// second object, text cut short); the members seen until then were given already.
bool ReadFlatObject(std::string_view text,
                    const std::function<void(std::string_view key, std::string_view value, bool isString)>& member);

}  // namespace result
