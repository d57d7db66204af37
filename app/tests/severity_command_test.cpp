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

TEST(SeverityCommand, AcceptedEntriesAreStoredSavedAndShown) {
    struct Case {
        const char* entry;
        int32_t severity;
    } cases[] = {
        {"05", 5},
        {"  3", 3},
        {"$A", 10},
        {"-3", -3},
        {"-2147483648", INT32_MIN},
        {"2147483647", INT32_MAX},
        {"0x1F", 31},
        {"+4", 4},
        {"0", 0},
    };
    for (const Case& c : cases) {
        const CommandRun r = RunWith(7, c.entry);
        ASSERT_TRUE(r.outcome) << c.entry << ": " << r.error;
        EXPECT_EQ(r.proposed, "7");
        EXPECT_EQ(r.severity, c.severity) << c.entry;
        EXPECT_EQ(r.saves, 1) << c.entry;
        EXPECT_EQ(r.savedSeverity, c.severity) << "saved before the new value was stored";
        EXPECT_EQ(r.outcome->severity, c.severity);
        EXPECT_EQ(r.outcome->panelText, "Severity: " + std::to_string(c.severity));
        EXPECT_EQ(r.outcome->caption, std::string("Set SEVERITY level (") + c.entry + ")");
    }
}

TEST(SeverityCommand, CancelRunsTheStepsWithTheProposedText) {
    for (const int32_t current : {7, 0, -3, INT32_MIN}) {
        const CommandRun r = RunWith(current, std::nullopt);
        ASSERT_TRUE(r.outcome) << r.error;
        EXPECT_EQ(r.proposed, std::to_string(current));
        EXPECT_EQ(r.severity, current);
        EXPECT_EQ(r.saves, 1) << "cancel still rewrites the settings file";
        EXPECT_EQ(r.outcome->panelText, "Severity: " + std::to_string(current));
        EXPECT_EQ(r.outcome->caption, "Set SEVERITY level (" + std::to_string(current) + ")");
    }
}

TEST(SeverityCommand, InvalidEntriesChangeNothing) {
    for (const char* entry : {"abc", "", "7 ", "2147483648", "-2147483649", " ", "$", "1.5", "0x",
                              "\t3", "--3", "$1FFFFFFFF"}) {
        const CommandRun r = RunWith(7, entry);
        EXPECT_FALSE(r.outcome) << entry;
        EXPECT_EQ(r.errorClass, "EConvertError") << entry;
        EXPECT_EQ(r.error, std::string("'") + entry + "' is not a valid integer value");
        EXPECT_EQ(r.severity, 7) << entry;
        EXPECT_EQ(r.saves, 0) << entry;
    }
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
