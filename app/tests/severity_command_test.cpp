#include "app/severity_command.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "velmar/errors.h"

namespace tarvane {
namespace {

// One run of the command: the user's answer (none for Cancel) and what SaveSettings did.
struct CommandRun {
    int32_t severity = 0;
    std::string proposed;
    int saves = 0;
    int32_t savedSeverity = 0;
    std::optional<SeverityOutcome> outcome;
    std::string error;
    std::string errorClass;
};

CommandRun RunWith(int32_t severity, std::optional<std::string> answer, bool saveFails = false) {
    CommandRun r;
    r.severity = severity;
    try {
        r.outcome = RunSeverityCommand(
            [&](std::string& entry) {
                r.proposed = entry;
                if (answer) entry = *answer;
            },
            r.severity,
            [&] {
                ++r.saves;
                r.savedSeverity = r.severity;
                if (saveFails) throw velmar::EInOutError(5);
            });
    } catch (const velmar::Exception& e) {
        r.error = e.what();
        r.errorClass = e.ClassName();
    }
    return r;
}

// The entry is read under the integer syntax, whose cases have a test of their own; the
// caption keeps it as typed.
TEST(SeverityCommand, AcceptedEntryIsStoredSavedAndShown) {
    const CommandRun r = RunWith(7, "$0A");
    ASSERT_TRUE(r.outcome) << r.error;
    EXPECT_EQ(r.proposed, "7");
    EXPECT_EQ(r.severity, 10);
    EXPECT_EQ(r.saves, 1);
    EXPECT_EQ(r.savedSeverity, 10) << "saved before the new value was stored";
    EXPECT_EQ(r.outcome->severity, 10);
    EXPECT_EQ(r.outcome->panelText, "Severity: 10");
    EXPECT_EQ(r.outcome->caption, "Set SEVERITY level ($0A)");
}

TEST(SeverityCommand, CancelRunsTheStepsWithTheProposedText) {
    const CommandRun r = RunWith(-3, std::nullopt);
    ASSERT_TRUE(r.outcome) << r.error;
    EXPECT_EQ(r.proposed, "-3");
    EXPECT_EQ(r.severity, -3);
    EXPECT_EQ(r.saves, 1) << "cancel still rewrites the settings file";
    EXPECT_EQ(r.outcome->panelText, "Severity: -3");
    EXPECT_EQ(r.outcome->caption, "Set SEVERITY level (-3)");
}

TEST(SeverityCommand, InvalidEntryChangesNothing) {
    const CommandRun r = RunWith(7, "7 ");
    EXPECT_FALSE(r.outcome);
    EXPECT_EQ(r.errorClass, "EConvertError");
    EXPECT_EQ(r.error, "'7 ' is not a valid integer value");
    EXPECT_EQ(r.severity, 7);
    EXPECT_EQ(r.saves, 0);
}

TEST(SeverityCommand, SaveFailureKeepsTheNewThresholdButNoOutcome) {
    const CommandRun r = RunWith(7, "3", /*saveFails=*/true);
    EXPECT_FALSE(r.outcome);
    EXPECT_EQ(r.errorClass, "EInOutError");
    EXPECT_EQ(r.error, "File access denied");
    EXPECT_EQ(r.severity, 3);
    EXPECT_EQ(r.saves, 1);
}

}  // namespace
}  // namespace tarvane
