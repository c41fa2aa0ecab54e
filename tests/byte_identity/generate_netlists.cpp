// Writes random input files for the byte-identity comparison of two kavrel
// builds: each file holds one to three netlists with every element kind,
// negation, values, parameter selections, scattering rows with every
// normalization and n1/n2 networks, test bits, and now and then a netlist
// that runs into a table limit or holds a malformed entry.
//
//   kavrel_random_netlists SEED COUNT DIRECTORY

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/random_netlist.h"

using kavrel_oracle::format_netlist;
using kavrel_oracle::Netlist;
using kavrel_oracle::random_netlist;
using kavrel_oracle::RandomNetlistOptions;

namespace {

std::mt19937_64 rng;

int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
bool chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p; }

const unsigned kTestBits[] = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 4096};

unsigned random_test_bits() {
  if (chance(0.35)) return 0;
  unsigned bits = 0;
  const int count = uniform(1, 3);
  for (int k = 0; k < count; ++k) bits |= kTestBits[uniform(0, 10)];
  if (chance(0.05)) bits |= 1u << uniform(13, 20);  // bits without a listing
  return bits;
}

std::vector<std::string> random_parameter_words(bool scattering) {
  std::vector<std::string> words;
  if (!scattering && chance(0.15)) return words;  // all 32
  const int count = uniform(1, 4);
  for (int k = 0; k < count; ++k) {
    const int row = scattering && chance(0.7) ? uniform(24, 31) : uniform(0, 31);
    words.push_back(chance(0.5) ? kavrel_oracle::primary_parameter_names[row]
                                : kavrel_oracle::alternate_parameter_names[row]);
  }
  if (chance(0.05)) words.push_back(chance(0.5) ? "q77" : "Sx");  // unknown name
  return words;
}

// A floating normalizing network between two fresh labels.
std::string normalizing_network(int port, int& name_counter) {
  const unsigned first = 60 + 5 * static_cast<unsigned>(port);
  const unsigned second = first + 1;
  const unsigned middle = first + 2;
  const unsigned far = first + 3;
  auto name = [&](const char* prefix) { return std::string(prefix) + "n" + std::to_string(++name_counter); };
  auto pair = [](unsigned a, unsigned b) { return " " + std::to_string(a) + " " + std::to_string(b); };
  static const char* const kinds[] = {"r", "c", "l", "g", "C", "L", "y", "z"};
  std::string text;
  switch (uniform(0, 5)) {
    case 0:
    case 1: text += name(kinds[uniform(0, 7)]) + pair(first, second) + "\n"; break;
    case 2:
      text += name(kinds[uniform(0, 7)]) + pair(first, middle) + "\n";
      text += name(kinds[uniform(0, 7)]) + pair(middle, second) + "\n";
      break;
    case 3:
      text += name("r") + pair(first, second) + "\n";
      text += "x " + name("c") + pair(first, second) + "\n";
      break;
    case 4:
      text += name("l") + pair(first, middle) + "\n";
      text += name("m") + pair(middle, second) + pair(far, second) + "\n";
      text += name("L") + pair(far, second) + "\n";
      break;
    default:
      text += name("c") + pair(first, middle) + " v 2\n";
      text += name("r") + pair(middle, second) + "\n";
      break;
  }
  text += "n" + std::to_string(port + 1) + pair(first, second) + "\n";
  return text;
}

std::string ordinary_netlist() {
  RandomNetlistOptions options;
  const bool scattering = chance(0.35);
  if (scattering) {
    options.min_elements = 2;
    options.max_elements = 5;
    options.max_labels = 4;
    options.max_generated_nodes = 3;
  } else if (chance(0.2)) {
    options.max_elements = 12;
    options.max_labels = 7;
    options.max_generated_nodes = 10;
  }
  Netlist netlist = random_netlist(rng, options);
  netlist.parameter_words = random_parameter_words(scattering);
  if (scattering || chance(0.1)) netlist.norm_mode = static_cast<unsigned>(uniform(0, 3)) == 3 ? 7 : uniform(0, 2);
  netlist.test_bitmap = random_test_bits();
  std::string text = format_netlist(netlist);
  std::string extra;
  if (scattering) {
    int name_counter = 0;
    if (chance(0.4)) extra += normalizing_network(0, name_counter);
    if (chance(0.4)) extra += normalizing_network(1, name_counter);
  }
  if (chance(0.05)) extra += "{a comment {nested}} ";
  text.insert(text.size() - 2, extra);  // before the end entry
  return text;
}

// A long chain of elements with a few two-ports in it, sized around the
// table limits, so that the capacity checks of every stage are reached.
std::string limit_probe() {
  std::string text;
  const int length = uniform(20, 40);
  int counter = 0;
  int shunts = 0;
  static const char* const two_ports[] = {"u", "b", "rm", "m", "gm", "gy", "o"};
  for (int k = 0; k < length; ++k) {
    const std::string a = std::to_string(k);
    const std::string b = std::to_string(k + 1);
    if (chance(0.12)) {
      text += std::string(two_ports[uniform(0, 6)]) + std::to_string(++counter) + " " + b + " 0 " + a + " 0\n";
      text += "r" + std::to_string(++counter) + " " + a + " " + b + "\n";
    } else {
      if (chance(0.1)) text += "x ";
      text += (chance(0.5) ? "r" : "c") + std::to_string(++counter) + " " + a + " " + b + "\n";
    }
    // Few shunts: each one multiplies the trees of the ladder.
    if (shunts < 2 && chance(0.05)) {
      ++shunts;
      text += "g" + std::to_string(++counter) + " " + b + " 0\n";
    }
  }
  // Parallel elements at the first node fill the edge tables.
  static const char* const fillers[] = {"g", "gm", "o", "u", "x r"};
  const char* filler = fillers[uniform(0, 4)];
  const bool two_port_filler = filler[0] != 'g' || filler[1] == 'm';
  for (int extra = uniform(0, 3) * (two_port_filler ? 8 : 20); extra > 0; --extra)
    text += filler + std::to_string(++counter) + (two_port_filler ? " 1 0 2 0\n" : " 1 0\n");
  text += "f 1 0 " + std::to_string(length) + " 0\n";
  text += chance(0.5) ? "p s21\n" : "p g21\n";
  if (chance(0.3)) text += "n1 90 91\nr90 90 91\n";
  if (chance(0.3)) text += "t 64\n";
  return text + "e\n";
}

std::string malformed_netlist() {
  std::string text = format_netlist(random_netlist(rng));
  switch (uniform(0, 5)) {
    case 0: text.insert(0, "f 1 0 2 0\n"); break;                            // second port designator
    case 1: text.insert(0, "w 1 2\n"); break;                                // unknown entry
    case 2: text = text.substr(0, text.find("\nf ") + 1) + "e\n"; break;   // no port designator
    case 3: text.insert(0, "rextraordinarilylongname 1 2\n"); break;        // truncated name
    case 4: text.insert(0, "v 3\n"); break;                                  // value before any element
    default: text.insert(0, "x\n"); break;                                   // negation of the next element
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SEED COUNT DIRECTORY\n", argv[0]);
    return 2;
  }
  rng.seed(std::strtoull(argv[1], nullptr, 10));
  const int count = std::atoi(argv[2]);
  for (int file = 0; file < count; ++file) {
    std::string input;
    const int netlists = uniform(1, 3);
    for (int k = 0; k < netlists; ++k) {
      const int pick = uniform(0, 99);
      input += pick < 6 ? limit_probe() : pick < 10 ? malformed_netlist() : ordinary_netlist();
    }
    char path[4096];
    std::snprintf(path, sizeof path, "%s/case-%05d.net", argv[3], file);
    FILE* out = std::fopen(path, "w");
    if (!out) {
      std::perror(path);
      return 1;
    }
    std::fputs(input.c_str(), out);
    std::fclose(out);
  }
  return 0;
}
