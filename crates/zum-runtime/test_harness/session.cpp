// The one translation unit that compiles Catch2's implementation; every test executable links
// this object instead of compiling its own.
#define CATCH_CONFIG_RUNNER
#include <catch2/catch.hpp>

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "test_harness.hpp"

namespace zum_runtime::test_harness {
namespace {

// Catch2 reads its test specs with an escape character and a few operators; a name quoted and
// escaped this way matches itself exactly. (Catch2 still compares names without regard to
// case and treats a leading or trailing '*' as a wildcard; no registered name relies on either.)
std::string exact_name_spec(std::string_view name) {
  std::string spec = "\"";
  for (const char character : name) {
    if (character == '\\' || character == '"' || character == ',') spec += '\\';
    spec += character;
  }
  return spec + '"';
}

// A backslash takes the next character literally, as in Catch2's own test specs: CTest's test
// discovery passes names with ',', '[' and ']' escaped that way.
std::string unescaped(std::string_view filter) {
  std::string text;
  for (std::size_t index = 0; index < filter.size(); ++index) {
    if (filter[index] == '\\' && index + 1 < filter.size()) ++index;
    text += filter[index];
  }
  return text;
}

bool contains_any(std::string_view name, const std::vector<std::string>& filters) {
  for (const std::string& filter : filters) {
    if (name.find(unescaped(filter)) != std::string_view::npos) return true;
  }
  return false;
}

// Catch2 matches its positional specs against whole names, and separate specs must all match.
// Substring alternatives are resolved here instead, into one spec naming the chosen tests.
void select_by_substring(std::vector<std::string>& filters) {
  if (filters.empty()) return;
  std::string spec;
  for (const Catch::TestCase& test : Catch::getRegistryHub().getTestCaseRegistry().getAllTests()) {
    if (!contains_any(test.name, filters)) continue;
    if (!spec.empty()) spec += ',';
    spec += exact_name_spec(test.name);
  }
  // "~*" excludes every test: a filter that matches nothing runs nothing.
  filters = {spec.empty() ? std::string("~*") : spec};
}

bool asks_for_listing(const Catch::ConfigData& config) {
  return config.listTests || config.listTestNamesOnly || config.listTags || config.listReporters;
}

// Catch2 exits with the number of failed assertions, the number of items a listing printed,
// or 255 for an error of its own. Only a failure or an error counts as one here.
int exit_status(const Catch::ConfigData& config, int catch_status) {
  constexpr int catch_error_status = 255;
  if (catch_status == 0) return 0;
  if (asks_for_listing(config) && catch_status != catch_error_status) return 0;
  return failure_exit_status;
}

bool has_startup_errors() {
  return !Catch::getRegistryHub().getStartupExceptionRegistry().getExceptions().empty();
}

// With no arguments there is nothing to parse, so every test runs under the default settings
// without a Catch::Session: constructing one builds Catch2's command-line parser, which alone
// costs more instructions than the bijection test. TestGroup is the part of this translation
// unit's Catch2 implementation that Session::run uses for the same work.
int run_everything() {
  Catch::ConfigData settings;
  settings.reporterName = "zum";
  const auto config = std::make_shared<Catch::Config>(settings);
  Catch::getCurrentMutableContext().setConfig(config);
  Catch::seedRng(*config);
  const Catch::Totals totals = Catch::TestGroup{config}.execute();
  return totals.assertions.failed == 0 ? 0 : failure_exit_status;
}

}  // namespace

int run(int argc, char* argv[]) {
  if (argc <= 1 && !has_startup_errors()) return run_everything();
  Catch::Session session;
  // The runtime's own report unless the command line picks another reporter.
  session.configData().reporterName = "zum";
  // Catch2 has written its error and a usage hint to standard error already.
  if (session.applyCommandLine(argc, argv) != 0) return failure_exit_status;
  select_by_substring(session.configData().testsOrTags);
  return exit_status(session.configData(), session.run());
}

int run_discoverable(int argc, char* argv[]) {
  const std::span arguments(argv, static_cast<std::size_t>(argc));
  const bool discovery = std::ranges::any_of(arguments, [](std::string_view argument) {
    return argument == "--list-test-names-only" || argument == "--list-reporters";
  });
  return discovery ? Catch::Session().run(argc, argv) : run(argc, argv);
}

}  // namespace zum_runtime::test_harness
