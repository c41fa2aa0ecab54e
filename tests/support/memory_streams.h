#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "input/network_tables.h"
#include "input/tokenizer.h"

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

// An InputStream over a fixed text, its echo collected in memory.
class TextInput {
 public:
  explicit TextInput(const std::string& text);
  ~TextInput();
  TextInput(const TextInput&) = delete;
  TextInput& operator=(const TextInput&) = delete;
  std::string echo() { return echo_.text(); }

  kavrel::InputStream input;

 private:
  FILE* in_;
  Capture echo_;
};

// The help text as kavrel prints it.
std::string help_text();

// Reads one complete netlist into fresh tables; a test failure if it does not
// read cleanly.
std::unique_ptr<kavrel::NetworkTables> read_tables(const std::string& netlist);

}  // namespace kavrel_test
