#include "support/memory_streams.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

std::unique_ptr<kavrel::NetworkTables> read_tables(const std::string& netlist) {
  auto net = std::make_unique<kavrel::NetworkTables>();
  FILE* in = std::tmpfile();
  std::fwrite(netlist.data(), 1, netlist.size(), in);
  std::rewind(in);
  Capture echo;
  kavrel::InputStream input{in, echo.out(), 0};
  const int status = kavrel::read_netlist(input, *net);
  std::fclose(in);
  EXPECT_EQ(status, 0) << echo.text();
  return net;
}

}  // namespace kavrel_test
