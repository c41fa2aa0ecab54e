#include "support/memory_streams.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "input/help_text.h"
#include "input/netlist_reader.h"

namespace kavrel_test {

Capture::Capture() : out_(open_memstream(&buffer_, &size_)) {}

Capture::~Capture() {
  if (out_ != nullptr) std::fclose(out_);
  std::free(buffer_);
}

std::string Capture::text() {
  std::fflush(out_);
  return std::string(buffer_, size_);
}

TextInput::TextInput(const std::string& text) : in_(std::tmpfile()) {
  std::fwrite(text.data(), 1, text.size(), in_);
  std::rewind(in_);
  input.in = in_;
  input.out = echo_.out();
}

TextInput::~TextInput() { std::fclose(in_); }

std::string help_text() {
  Capture out;
  kavrel::print_help(out.out());
  return out.text();
}

std::unique_ptr<kavrel::NetworkTables> read_tables(const std::string& netlist) {
  auto net = std::make_unique<kavrel::NetworkTables>();
  TextInput text(netlist);
  const int status = kavrel::read_netlist(text.input, *net);
  EXPECT_EQ(status, 0) << text.echo();
  return net;
}

}  // namespace kavrel_test
