#include "support/run_capture.h"

#include <cstdio>
#include <cstdlib>

#include "input/main_loop.h"
#include "support/text_patterns.h"

namespace kavrel_test {

std::string run_kavrel_on(const std::string& input) {
  // fmemopen refuses a zero-length buffer on some libcs; an empty file does not.
  FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  kavrel::run_kavrel(in, out);
  std::fclose(out);
  std::fclose(in);
  std::string result(buffer, size);
  std::free(buffer);
  return result;
}

std::string normalize_elapsed(const std::string& output) {
  return replace_matches(output, "\\{elapsed time: -?[0-9]+/1000 sec\\.\\}\n$",
                         "{elapsed time: #/1000 sec.}\n");
}

std::string run_normalized(const std::string& input) {
  return normalize_elapsed(run_kavrel_on(input));
}

}  // namespace kavrel_test
