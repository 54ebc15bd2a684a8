// MessageBoxA: scripted answers, the Escape rule when unattended, and refusal of answers that
// a box does not offer.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "hostwin.h"
#include "scratch_machine.h"

namespace {

class MessageBoxes : public ::testing::Test {
protected:
    void TearDown() override { ::unsetenv("HOSTWIN_ANSWERS"); }
    ScratchMachine machine;
};

TEST_F(MessageBoxes, ScriptedAnswersAreConsumedInOrderThenEscapeAnswers) {
    ::setenv("HOSTWIN_ANSWERS", " OK , cancel,yes,No", 1);
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "t", "c", MB_OKCANCEL));
    EXPECT_EQ(IDCANCEL, MessageBoxA(nullptr, "t", "c", MB_OKCANCEL));
    EXPECT_EQ(IDYES, MessageBoxA(nullptr, "t", "c", MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, "t", "c", MB_YESNOCANCEL));
    // The list is used up; standard input is no terminal under the test runner.
    struct Case {
        UINT style;
        int answer;
    } escape[] = {{MB_OK, IDOK},          {MB_OKCANCEL, IDCANCEL},  {MB_YESNOCANCEL, IDCANCEL},
                  {MB_YESNO, IDNO},       {MB_RETRYCANCEL, IDCANCEL}, {MB_ABORTRETRYIGNORE, IDABORT},
                  {MB_OK | MB_ICONHAND, IDOK}};
    for (const Case& c : escape) EXPECT_EQ(c.answer, MessageBoxA(nullptr, "t", "c", c.style));
    EXPECT_EQ(11u, machine.Journal().size());
}

TEST_F(MessageBoxes, AnAnswerTheBoxDoesNotOfferIsAnError) {
    ::setenv("HOSTWIN_ANSWERS", "yes,okay", 1);
    EXPECT_THROW(MessageBoxA(nullptr, "t", "c", MB_OKCANCEL), hostwin::MachineError);
    EXPECT_THROW(MessageBoxA(nullptr, "t", "c", MB_OK), hostwin::MachineError);
}

TEST_F(MessageBoxes, AnUnknownBoxTypeFails) {
    EXPECT_EQ(0, MessageBoxA(nullptr, "t", "c", 0x7));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

}  // namespace
