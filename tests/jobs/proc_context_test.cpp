#include "jobs/proc_context.h"

#include <gtest/gtest.h>

#include "tests/support/recording_targets.h"

namespace korvel {
namespace {

TEST(ProcContextTest, StatusCutsOneTrailingCrLfOnly) {
    ProcContext ctx;
    std::vector<std::string> seen;
    ctx.onStatus = [&](const std::string& t) { seen.push_back(t); };
    ctx.Status("Erase\r\n");
    ctx.Status("Erase\n");
    ctx.Status("\r\n");
    ctx.Status("Erase\r");
    ctx.Status("x\r\n\r\n");
    ctx.Status("Sector %d of %s", 3, "7");
    EXPECT_EQ(seen, (std::vector<std::string>{"Erase", "Erase\n", "", "Erase\r", "x\r\n",
                                              "Sector 3 of 7"}));
}

TEST(ProcContextTest, StatusIsBoundedTo511Characters) {
    ProcContext ctx;
    std::string seen;
    ctx.onStatus = [&](const std::string& t) { seen = t; };
    const std::string longText(5000, 'z');
    ctx.Status("%s", longText.c_str());
    EXPECT_EQ(seen, std::string(511, 'z'));
}

TEST(ProcContextTest, AfterClearReportsReachNoFormerTargetOrCallback) {
    ProcContext ctx;
    test::RecordingBar bar;
    test::RecordingStatus control;
    test::RecordingLog log;
    int callbackCalls = 0;
    ctx.progressBar = &bar;
    ctx.statusControl = &control;
    ctx.statusLog = &log;
    ctx.onProgressMax = [&](int) { ++callbackCalls; };
    ctx.onProgressPosition = [&](int) { ++callbackCalls; };
    ctx.onProgressStep = [&](int) { ++callbackCalls; };
    ctx.onStatus = [&](const std::string&) { ++callbackCalls; };
    ctx.Clear();
    // Nothing assigned: every report is dropped, none fails.
    ctx.SetProgressMax(10);
    ctx.SetProgress(3);
    ctx.StepProgress(1);
    ctx.Status("Connecting");
    EXPECT_EQ(bar.maximum, 100);
    EXPECT_EQ(bar.pos, 0);
    EXPECT_TRUE(control.texts.empty());
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(callbackCalls, 0);
}

TEST(ProcContextTest, DirectStatusTargetsTakePrecedenceOverTheCallback) {
    ProcContext ctx;
    test::RecordingStatus control;
    test::RecordingLog log;
    int callbackCalls = 0;
    ctx.onStatus = [&](const std::string&) { ++callbackCalls; };
    ctx.statusControl = &control;
    ctx.statusLog = &log;
    ctx.Status(StatusId::Programming);
    EXPECT_EQ(control.texts, std::vector<std::string>{"Programming"});
    EXPECT_EQ(log.lines, std::vector<std::string>{"Programming"});
    ctx.statusControl = nullptr;
    ctx.Status("Done");
    EXPECT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(callbackCalls, 0);
}

TEST(ProcContextTest, ProgressBarTakesPrecedenceOverCallbacks) {
    ProcContext ctx;
    test::RecordingBar bar;
    int callbackCalls = 0;
    ctx.onProgressMax = [&](int) { ++callbackCalls; };
    ctx.onProgressPosition = [&](int) { ++callbackCalls; };
    ctx.onProgressStep = [&](int) { ++callbackCalls; };
    ctx.progressBar = &bar;
    ctx.SetProgressMax(50);
    ctx.SetProgress(10);
    ctx.StepProgress(5);
    EXPECT_EQ(bar.maximum, 50);
    EXPECT_EQ(bar.pos, 15);
    EXPECT_EQ(callbackCalls, 0);

    ctx.progressBar = nullptr;
    std::vector<int> steps;
    ctx.onProgressStep = [&](int d) { steps.push_back(d); };
    ctx.StepProgress(2);
    EXPECT_EQ(steps, std::vector<int>{2});
}

TEST(ProcContextTest, ClearDropsEverythingAndTheAbortRequest) {
    ProcContext ctx;
    test::RecordingBar bar;
    ctx.progressBar = &bar;
    ctx.onStatus = [](const std::string&) {};
    ctx.RequestAbort();
    EXPECT_TRUE(ctx.abortRequested);
    ctx.Clear();
    EXPECT_FALSE(ctx.abortRequested);
    EXPECT_EQ(ctx.progressBar, nullptr);
    EXPECT_FALSE(ctx.onStatus);
}

TEST(StatusTextTest, TableRunsFromConnectingToPowerOff) {
    EXPECT_STREQ(Text(StatusId::Connecting), "Connecting");
    EXPECT_STREQ(Text(StatusId::ReadInfo), "Read Info");
    EXPECT_STREQ(Text(StatusId::Aborted), "Aborted");
    EXPECT_STREQ(Text(StatusId::PowerOff), "Power OFF");
    EXPECT_EQ(std::size(StatusText), 14u);
}

}  // namespace
}  // namespace korvel
