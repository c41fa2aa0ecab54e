#include "input/tokenizer.h"

namespace kavrel {

int read_word(InputStream&, int& count, int, char* buffer) {
  count = 0;
  buffer[0] = 0;
  return -1;
}
int read_unsigned(InputStream&, uint32_t& value) {
  value = 0;
  return -1;
}
int read_real(InputStream&, double& value) {
  value = 0.0;
  return -1;
}

}  // namespace kavrel
