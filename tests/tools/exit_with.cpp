// Ends with the exit code given as its one argument (decimal or 0x hex), so
// the harness can check that full 32-bit codes survive the trip.
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  return static_cast<int>(std::strtoul(argv[1], nullptr, 0));
}
