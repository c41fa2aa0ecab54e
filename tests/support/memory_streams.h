#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "input/network_tables.h"

namespace kavrel_test {

// Collects what a routine prints.
class Capture {
 public:
  Capture();
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  FILE* out() { return out_; }
  std::string text();

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  FILE* out_;
};

// Reads one complete netlist into fresh tables; a test failure if it does not
// read cleanly.
std::unique_ptr<kavrel::NetworkTables> read_tables(const std::string& netlist);

}  // namespace kavrel_test
