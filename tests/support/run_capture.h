#pragma once

#include <string>

namespace kavrel_test {

// Runs kavrel in-process on the given input and returns everything it printed.
std::string run_kavrel_on(const std::string& input);

// The same output with the number of the elapsed-time line replaced by "#".
std::string run_normalized(const std::string& input);
std::string normalize_elapsed(const std::string& output);

}  // namespace kavrel_test
