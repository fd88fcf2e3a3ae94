#include "test_harness.hpp"

int main(int argc, char* argv[]) {
  return zum_runtime::test_harness::run_discoverable(argc, argv);
}
