// The runtime's test report and the translation of a panic into it.
#define CATCH_CONFIG_EXTERNAL_INTERFACES
#include <catch2/catch.hpp>

#include <ostream>
#include <set>
#include <string>
#include <string_view>

#include "base/panic.hpp"

namespace zum_runtime::test_harness {
namespace {

// How every Panic::report() begins, which tells a translated panic from other exceptions.
constexpr std::string_view panic_prefix = "panicked at ";

std::string position_of(const Catch::SourceLineInfo& source) {
  return std::string(source.file) + ':' + std::to_string(source.line);
}

// One line per test with its outcome, each failure's text line for line under it (nothing is
// re-wrapped: a long message stays one line), and the counts last.
class RuntimeReporter final : public Catch::StreamingReporterBase<RuntimeReporter> {
 public:
  using StreamingReporterBase::StreamingReporterBase;

  static std::string getDescription() {
    return "One line per test, failures verbatim with their position, then the counts";
  }

  static std::set<Catch::Verbosity> getSupportedVerbosities() {
    return {Catch::Verbosity::Quiet, Catch::Verbosity::Normal, Catch::Verbosity::High};
  }

  void assertionStarting(const Catch::AssertionInfo&) override {}

  bool assertionEnded(const Catch::AssertionStats& stats) override {
    if (stats.assertionResult.isOk()) return true;
    std::string failure = describe_failure(stats);
    while (failure.ends_with('\n')) failure.pop_back();
    failures_ += failure + '\n';
    return true;
  }

  void testCaseEnded(const Catch::TestCaseStats& stats) override {
    const bool passed = stats.totals.assertions.failed == 0;
    // A failure's text stands apart, a blank line before and after it.
    if (after_failure_text_) stream << '\n';
    stream << "test " << stats.testInfo.name << " ... " << (passed ? "passed" : "FAILED") << '\n';
    if (!failures_.empty()) stream << '\n' << failures_;
    after_failure_text_ = !failures_.empty();
    failures_.clear();
    stream.flush();
    StreamingReporterBase::testCaseEnded(stats);
  }

  void testRunEnded(const Catch::TestRunStats& stats) override {
    const auto& counts = stats.totals.testCases;
    stream << '\n' << counts.passed << " passed, " << counts.failed << " failed\n";
    stream.flush();
    StreamingReporterBase::testRunEnded(stats);
  }

 private:
  static std::string describe_failure(const Catch::AssertionStats& stats) {
    const Catch::AssertionResult& result = stats.assertionResult;
    // Catch2 appends the result's own message to the scoped messages; it is shown once below.
    auto context = stats.infoMessages;
    if (result.hasMessage() && !context.empty()) context.pop_back();
    std::string text;
    for (const Catch::MessageInfo& info : context) text += info.message + '\n';
    switch (result.getResultType()) {
      case Catch::ResultWas::ThrewException:
        if (result.getMessage().starts_with(panic_prefix)) return text + result.getMessage();
        return text + "unexpected exception at " + position_of(result.getSourceInfo()) + ":\n" +
               result.getMessage();
      case Catch::ResultWas::FatalErrorCondition:
        return text + "fatal error at " + position_of(result.getSourceInfo()) + ":\n" +
               result.getMessage();
      default:
        break;
    }
    text += "failed at " + position_of(result.getSourceInfo()) + ":\n";
    if (result.hasExpression()) {
      text += "  " + result.getExpressionInMacro() + '\n';
      if (result.hasExpandedExpression())
        text += "with expansion:\n  " + result.getExpandedExpression() + '\n';
    }
    if (result.hasMessage()) text += result.getMessage() + '\n';
    return text;
  }

  std::string failures_;
  bool after_failure_text_ = false;
};

}  // namespace

CATCH_REGISTER_REPORTER("zum", RuntimeReporter)

}  // namespace zum_runtime::test_harness

CATCH_TRANSLATE_EXCEPTION(const zum_runtime::Panic& panic) {
  return panic.report();
}
