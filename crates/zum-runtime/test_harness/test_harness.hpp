#pragma once

// The entry every test executable of the runtime hands its registered tests to. It runs them
// through Catch2 with these rules on top:
//   - positional arguments are name filters: a test runs when its name contains one of them
//     (plain, case-sensitive substring; a backslash takes the next character literally); no
//     filter runs every test;
//   - exit status 0 when every test that ran passed (or nothing ran, or only a listing or the
//     help was asked for), 101 when a test failed or the command line was rejected;
//   - the default report names each test with its outcome and shows a failure's message line
//     for line, a panic with its position as "panicked at file:line:column:".
// Every other Catch2 option (--list-tests, --reporter junit, -h, ...) works as usual.
namespace zum_runtime::test_harness {

inline constexpr int failure_exit_status = 101;

int run(int argc, char* argv[]);

// The same for an executable whose tests CTest discovers (catch_discover_tests): the listings
// discovery asks for (--list-test-names-only, --list-reporters) exit with Catch2's own status,
// the number of items listed, which discovery takes as the sign that the listing worked.
int run_discoverable(int argc, char* argv[]);

}  // namespace zum_runtime::test_harness
