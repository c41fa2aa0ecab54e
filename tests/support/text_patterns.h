#pragma once

#include <string>

// Regular expressions for the tests, compiled in one place: <regex> alone
// takes seconds to compile in every file that uses it.
namespace kavrel_test {

// The text with every match of the ECMAScript pattern replaced.
std::string replace_matches(const std::string& text, const std::string& pattern,
                            const std::string& replacement);

// Whether the whole text matches the ECMAScript pattern.
bool matches_whole(const std::string& text, const std::string& pattern);

// The text with every hex address ("0x" and its digits) replaced by "0x#".
std::string masked_addresses(const std::string& text);

}  // namespace kavrel_test
