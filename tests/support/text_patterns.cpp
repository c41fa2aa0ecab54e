#include "support/text_patterns.h"

#include <regex>

namespace kavrel_test {

std::string replace_matches(const std::string& text, const std::string& pattern,
                            const std::string& replacement) {
  return std::regex_replace(text, std::regex(pattern), replacement);
}

bool matches_whole(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern));
}

std::string masked_addresses(const std::string& text) {
  return replace_matches(text, "0x[0-9a-f]+", "0x#");
}

}  // namespace kavrel_test
