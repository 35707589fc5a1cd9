// The package identity built from the embedded image, the run's result rule,
// the text rules and the zero-filled buffer.
#include <gtest/gtest.h>

#include <algorithm>

#include <span>
#include <string>
#include <vector>

#include "core/firmware_image.hpp"
#include "core/process_exit_code.hpp"
#include "core/run_result.hpp"
#include "core/text.hpp"
#include "core/zero_filled_buffer.hpp"
#include "records/identify_fields.hpp"

namespace zev {
namespace {

TEST(PackageIdentity, CopiesTheImageAndReadsItsRevision) {
  const PackageIdentity identity = buildPackageIdentity();
  const auto image = firmwareImage();
  ASSERT_EQ(image.size(), kFirmwareImageSize);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), packageImage().begin(), packageImage().end()));
  EXPECT_EQ(identity.imageRevision, L"KTW8LMZB");
  // The version comes from the build's project version.
  EXPECT_EQ(identity.title, L"ZEV_TQ270c_V" ZEV_PACKAGE_VERSION L"_KTW8LMZB");
  EXPECT_EQ(identity.title, L"ZEV_TQ270c_V1.0.2_KTW8LMZB");
}

DriveOutcome updated(std::int32_t code) {
  DriveOutcome outcome;
  outcome.decision = Decision::Failed;
  outcome.resultCode = code;
  return outcome;
}

DriveOutcome decided(Decision decision) {
  DriveOutcome outcome;
  outcome.decision = decision;
  return outcome;
}

struct ResultCase {
  RunMode mode;
  std::vector<DriveOutcome> outcomes;
  std::int32_t exitStatus;
  const char* details;
};

TEST(RunResult, OneRuleForTheUpdateAndTheCheck) {
  const auto update = RunMode::Update;
  const auto check = RunMode::Check;
  const DriveOutcome notExamined = decided(Decision::NotExamined);
  const DriveOutcome refused = decided(Decision::NotAccepted);
  const char* failed = "Patch Failed..";
  const char* reboot = "Downloaded firmware successfully, but firmware activation requires reboot.";
  const ResultCase cases[] = {
      {update, {}, 1, failed},
      {update, {refused}, 1, failed},
      {update, {updated(0)}, 0, "Patch completed"},
      {update, {updated(0), refused, updated(0)}, 0, "Patch completed"},
      {update, {updated(1602)}, 1602, reboot},
      {update, {updated(1602), updated(0)}, 1602, reboot},
      {update, {updated(0), updated(1602)}, 1602, reboot},
      {update, {updated(1), updated(1602)}, 1, failed},
      {update, {updated(1602), updated(1)}, 1, failed},
      {update, {updated(5)}, 1, failed},
      {update, {updated(0), updated(5)}, 1, failed},
      {update, {updated(1602), updated(5)}, 1, failed},
      {update, {updated(2)}, 1, failed},
      {update, {updated(-1)}, 1, failed},
      {update, {updated(0), notExamined}, 1, failed},
      {update, {notExamined}, 1, failed},
      {check, {}, 2, "No update needed."},
      {check, {decided(Decision::AlreadyCurrent), refused}, 2, "No update needed."},
      {check, {decided(Decision::UpdatePendingReset)}, 2, "No update needed."},
      {check, {refused, decided(Decision::UpdateAvailable)}, 0, "Update available."},
      {check, {decided(Decision::UpdateAvailable), notExamined}, 1, "Check failed."},
  };
  for (const ResultCase& c : cases) {
    const RunResult result = runResultOf(c.mode, c.outcomes, std::nullopt);
    EXPECT_EQ(result.exitStatus, c.exitStatus) << &c - cases;
    EXPECT_EQ(result.details, c.details) << &c - cases;
    EXPECT_EQ(result.noDiskSelected,
              c.mode == update && c.exitStatus == 1 &&
                  std::none_of(c.outcomes.begin(), c.outcomes.end(),
                               [](const DriveOutcome& o) { return o.resultCode.has_value(); }))
        << &c - cases;
    // A failure of the whole run decides alone, with its own text.
    const RunResult failedRun = runResultOf(c.mode, c.outcomes, std::string("guard held"));
    EXPECT_EQ(failedRun.exitStatus, 1);
    EXPECT_EQ(failedRun.details, "guard held");
    EXPECT_FALSE(failedRun.noDiskSelected);
  }
}

TEST(ProcessExitCode, WindowsInstallerCodesForAnUpdateOnly) {
  const auto msi = ExitCodeStyle::WindowsInstaller;
  const auto own = ExitCodeStyle::Package;
  const auto update = RunMode::Update;
  const auto check = RunMode::Check;
  struct Case {
    ExitCodeStyle style;
    RunMode mode;
    RunEnd end;
    std::int32_t exitStatus;
    std::int32_t exitCode;
  };
  const Case cases[] = {
      {msi, update, RunEnd::Ran, 0, 0},
      {msi, update, RunEnd::Ran, 1602, 3010},
      {msi, update, RunEnd::Ran, 1, 1603},
      {msi, update, RunEnd::GuardHeld, 1, 1618},
      {msi, update, RunEnd::CommandLineRejected, 1, 1639},
      {msi, check, RunEnd::CommandLineRejected, 1, 1639},
      {msi, check, RunEnd::Ran, 0, 0},
      {msi, check, RunEnd::Ran, 2, 2},
      {msi, check, RunEnd::Ran, 1, 1},
      {msi, check, RunEnd::GuardHeld, 1, 1},
      {own, update, RunEnd::Ran, 1602, 1602},
      {own, update, RunEnd::GuardHeld, 1, 1},
      {own, update, RunEnd::CommandLineRejected, 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(processExitCode(c.style, c.mode, c.end, c.exitStatus), c.exitCode) << &c - cases;
  }
}

TEST(Text, HexadecimalFormsAndWideCharactersOutOfBytes) {
  EXPECT_EQ(lowerHex(0), "0");
  EXPECT_EQ(lowerHex(0xFFFFFFFFu), "ffffffff");
  EXPECT_EQ(upperHex(0x1fu), "1F");
  EXPECT_EQ(eightDigitHex(0x2u), "00000002");
  const std::uint8_t digest[] = {0x00, 0xAB, 0x0F};
  EXPECT_EQ(hexBytes(digest), "00ab0f");
  // "AB", "C", "" (the list's end), "D": read in wchar_t units, a stray last
  // byte ignored.
  std::vector<std::uint8_t> bytes;
  for (wchar_t unit : std::wstring(L"AB\0C\0\0D", 7)) {
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&unit);
    bytes.insert(bytes.end(), raw, raw + sizeof(wchar_t));
  }
  bytes.push_back(0x41);
  EXPECT_EQ(wideTextUpToZero(bytes), L"AB");
  EXPECT_EQ(wideMultiStrings(bytes), (std::vector<std::wstring>{L"AB", L"C"}));
  EXPECT_EQ(wideMultiStrings(std::span(bytes).first(2 * sizeof(wchar_t))),
            (std::vector<std::wstring>{L"AB"}));
}

// Echoed text follows the drive-text rule for every character up to U+00FF;
// a character above it is kept (narrowing turns it into "?" later).
TEST(Text, EchoedTextLosesItsControlCharactersAsDriveTextDoes) {
  for (std::uint32_t code = 0; code <= 0xFF; ++code) {
    EXPECT_EQ(printableText(std::wstring(1, static_cast<wchar_t>(code))),
              std::wstring(1, identify::driveTextCharacter(static_cast<std::uint8_t>(code))))
        << code;
  }
  EXPECT_EQ(printableText(std::wstring(L"a\0\x1b[2J\x100", 7)), L"a??[2J\x100");
}

TEST(ZeroFilledBuffer, ComesZeroFilledOrNotAtAll) {
  const auto buffer = zeroFilledBuffer(4252);
  ASSERT_TRUE(buffer.has_value());
  EXPECT_EQ(buffer->size(), 4252u);
  EXPECT_EQ(std::count(buffer->begin(), buffer->end(), 0), 4252);
  EXPECT_FALSE(zeroFilledBuffer(~std::uint64_t{0}).has_value());
}

}  // namespace
}  // namespace zev
