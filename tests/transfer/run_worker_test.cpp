#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "link/error_state.h"
#include "support/status_dialog_fake.h"
#include "transfer/run_worker.h"

namespace tarnwick {
namespace {

using testing::ScriptedStatusHost;

constexpr WorkerLaunch kDownloadLaunch{0x3F, 0x72, std::nullopt};

class RunWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { ClearErrors(); }
    void TearDown() override { ClearErrors(); }

    static std::vector<std::pair<std::uint32_t, std::uint32_t>> Errors() {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const auto& e : PendingErrors()) out.emplace_back(e.function, e.code);
        return out;
    }

    ScriptedStatusHost host;
};

TEST_F(RunWorkerTest, SuccessTouchesTheDialogOnlyWhileReadyAndClosesItLast) {
    const bool ok = RunWorker(
        host,
        [](StatusDialog& d) {
            EXPECT_TRUE(d.IsReady());
            d.SetCaption("Status");
            d.SetText("Arbeite ...");
            d.ShowProgress();
            d.AddProgress(10);
            return true;
        },
        kDownloadLaunch);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(PendingErrors().empty());
    EXPECT_FALSE(host.record->touchedBeforeReady);
    // The close is the worker's last touch; the modal run may notice it
    // before the close hook has recorded it, so the last two come in either
    // order.
    auto events = host.record->Events();
    ASSERT_EQ(events.size(), 7u);
    if (events[5] == "modal-end") std::swap(events[5], events[6]);
    const std::vector<std::string> expected{"ready",  "caption:Status", "text:Arbeite ...",
                                            "bar:1",  "percent:0",      "close",
                                            "modal-end"};
    EXPECT_EQ(events, expected);
}

TEST_F(RunWorkerTest, FailureKeepsTheWorkersOwnErrorFirstAndAddsTheFallback) {
    const bool ok = RunWorker(
        host,
        [](StatusDialog&) {
            ReportError(0x34, 0x56);
            return false;
        },
        kDownloadLaunch);
    EXPECT_FALSE(ok);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{{0x34, 0x56},
                                                                         {0x3F, 0x72}};
    EXPECT_EQ(Errors(), expected);
    // The dialog is closed on failure as well.
    const auto events = host.record->Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "close"), events.end());
}

TEST_F(RunWorkerTest, SilentFailureShowsTheFallbackInTheGenericForm) {
    EXPECT_FALSE(RunWorker(host, [](StatusDialog&) { return false; }, kDownloadLaunch));
    const auto errors = PendingErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(FormatError(errors[0], ""),
              "Es ist ein Fehler aufgetreten \nCode: 0x72 Funktion: 0x3f ");
}

TEST_F(RunWorkerTest, AWorkerThatThrowsCountsAsFailed) {
    EXPECT_FALSE(RunWorker(
        host, [](StatusDialog&) -> bool { throw std::runtime_error("boom"); }, kDownloadLaunch));
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{{0x3F, 0x72}};
    EXPECT_EQ(Errors(), expected);
}

TEST_F(RunWorkerTest, NoDialogMeansNoWorkerAndAFailure) {
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant == 0 ? "dialog refused" : "window not shown");
        ClearErrors();
        ScriptedStatusHost h;
        h.refuseDialog = variant == 0;
        h.failToShow = variant == 1;
        bool ran = false;
        EXPECT_FALSE(RunWorker(
            h,
            [&ran](StatusDialog&) {
                ran = true;
                return true;
            },
            WorkerLaunch{0x35, 0x71, std::nullopt}));
        EXPECT_FALSE(ran);
        const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{{0x35, 0x71}};
        EXPECT_EQ(Errors(), expected);
    }
}

TEST_F(RunWorkerTest, TheLauncherSetsTheTotalBeforeTheWorkerStarts) {
    std::uint32_t seen = 0;
    EXPECT_TRUE(RunWorker(
        host,
        [&seen](StatusDialog& d) {
            seen = d.Total();
            return true;
        },
        WorkerLaunch{0x38, 0x6E, 123456u}));
    EXPECT_EQ(seen, 123456u);
}

// A dialog whose modal run ends as soon as the close is posted and then
// tells the worker so.
class SignallingDialog : public StatusDialog {
public:
    std::mutex m;
    std::condition_variable cv;
    bool modalOver = false;

    bool RunModal() override {
        MarkReady();
        WaitForClose();
        {
            std::lock_guard lock(m);
            modalOver = true;
        }
        cv.notify_all();
        return true;
    }
    void WaitForModalEnd() {
        std::unique_lock lock(m);
        cv.wait(lock, [this] { return modalOver; });
    }
};

struct SignallingHost : StatusDialogHost {
    SignallingDialog* last = nullptr;
    std::unique_ptr<StatusDialog> CreateStatusDialog() override {
        auto d = std::make_unique<SignallingDialog>();
        last = d.get();
        return d;
    }
};

TEST_F(RunWorkerTest, ReturnsOnlyAfterTheWorkerThreadHasEnded) {
    // The worker closes the dialog early and goes on until the modal run is
    // over; a launcher that did not wait for the thread would return before
    // the worker finished.
    SignallingHost signalling;
    std::atomic<bool> workerFinished{false};
    EXPECT_TRUE(RunWorker(
        signalling,
        [&](StatusDialog& d) {
            d.PostClose();
            static_cast<SignallingDialog&>(d).WaitForModalEnd();
            workerFinished = true;
            return true;
        },
        kDownloadLaunch));
    EXPECT_TRUE(workerFinished.load());
}

TEST_F(RunWorkerTest, CancelIsOnlyRecordedUntilTheWorkerLooksAtIt) {
    host.cancelAfterBytes = 300;
    int blocksAfterCancel = -1;
    const bool ok = RunWorker(
        host,
        [&](StatusDialog& d) {
            d.ShowProgress();
            for (int block = 0; block < 10; ++block) {
                d.AddProgress(100);
                if (d.IsCancelled()) {
                    blocksAfterCancel = block;
                    ReportError(0x34, 0x32);
                    return false;
                }
            }
            return true;
        },
        WorkerLaunch{0x3F, 0x72, 1000u});
    EXPECT_FALSE(ok);
    EXPECT_EQ(blocksAfterCancel, 2);
    const auto errors = PendingErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(FormatError(errors[0], ""), "Der Vorgang wurde vom Anwender abgebrochen");
    EXPECT_EQ(host.record->lastPercent, 30u);
}

struct PercentCase {
    std::uint32_t total;
    std::uint32_t step;
    std::uint32_t expected;
};

TEST(StatusDialogPercent, FollowsTheIntegerRuleWithoutClamping) {
    const PercentCase cases[] = {
        {0xFFFFFFFFu, 1000, 0},  // total never set
        {0, 1, 100},             // nothing to move: 100 % at once
        {99, 1, 100},            // below 100 bytes: unit 0
        {1000, 250, 25},
        {1000, 1500, 150},       // no clamping here
        {100000, 99999, 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.total);
        ScriptedStatusHost h;
        auto dialog = h.CreateStatusDialog();
        dialog->SetTotal(c.total);
        dialog->AddProgress(c.step);
        EXPECT_EQ(h.record->lastPercent, c.expected);
    }
}

TEST(StatusDialogState, CancelStaysSetAndReadinessEndsWithTheWindow) {
    ScriptedStatusHost h;
    auto dialog = h.CreateStatusDialog();
    EXPECT_FALSE(dialog->IsReady());
    EXPECT_FALSE(dialog->IsCancelled());
    dialog->RequestCancel();
    dialog->RequestCancel();
    EXPECT_TRUE(dialog->IsCancelled());
    dialog->MarkGone();
    EXPECT_FALSE(dialog->IsReady());
    EXPECT_FALSE(dialog->WaitUntilReady());  // never blocks once gone
}

}  // namespace
}  // namespace tarnwick
