// Stream encoding spreads its pieces over worker threads. What a caller sees
// must be exactly what encoding the pieces one after the other gives: the
// blocks and their order, the lengths and running checksums, the status, and
// the progress calls interleaved with the writes in the same order, all on
// the calling thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "codec/lz_codec.h"
#include "corpus.h"
#include "link/error_state.h"
#include "memory_file.h"
#include "ports/progress.h"

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::MemoryFile;
using Events = std::vector<std::string>;

// What encoding the pieces one by one with EncodeBlock gives.
struct Expected {
    Bytes stream;
    std::vector<std::size_t> blockStarts;   // offset of each block, then the end
    std::vector<std::uint32_t> pieces;      // data bytes of each piece
    CodecContext context;                   // running checksums and total length
};

Expected EncodePieceByPiece(const Bytes& data) {
    Expected e;
    e.context.runningChecksums = 1;
    std::size_t at = 0;
    std::uint8_t block[kMaxBlockSize];
    while (at < data.size()) {
        const auto n = static_cast<std::uint32_t>(std::min(kBlockPiece, data.size() - at));
        e.context.dataLength = n;
        EncodeBlock(block, data.data() + at, e.context);
        e.blockStarts.push_back(e.stream.size());
        e.pieces.push_back(n);
        e.stream.insert(e.stream.end(), block, block + e.context.blockLength);
        at += n;
    }
    e.blockStarts.push_back(e.stream.size());
    e.context.blockLength = static_cast<std::uint32_t>(e.stream.size());
    return e;
}

// Records every call into a shared event list, and whether any came from a
// thread other than the one that made it.
class EventProgress : public Progress {
public:
    explicit EventProgress(Events& events) : events_(events) {}
    std::size_t cancelAtCheck = SIZE_MAX;   // IsCancelled says yes from this check on (0-based)
    std::size_t addCalls = 0;
    mutable std::size_t cancelChecks = 0;
    mutable bool foreignThread = false;

    void SetText(const std::string&) override {}
    void SetCaption(const std::string&) override {}
    void SetTotal(std::uint32_t) override {}
    void AddProgress(std::uint32_t bytes) override {
        CheckThread();
        ++addCalls;
        events_.push_back("add " + std::to_string(bytes));
    }
    void ShowProgress() override {}
    void HideProgress() override {}
    bool IsCancelled() const override {
        CheckThread();
        const bool cancel = cancelChecks++ >= cancelAtCheck;
        events_.push_back(cancel ? "cancel" : "go on");
        return cancel;
    }
    bool IsReady() const override { return true; }

private:
    void CheckThread() const {
        if (std::this_thread::get_id() != owner_) foreignThread = true;
    }
    Events& events_;
    const std::thread::id owner_ = std::this_thread::get_id();
};

// A memory file that puts each write into the same event list.
class EventFile : public MemoryFile {
public:
    explicit EventFile(Events& events) : events_(events) {}
    bool Write(const void* buffer, std::size_t n) override {
        const bool ok = MemoryFile::Write(buffer, n);
        events_.push_back((ok ? "write " : "refused ") + std::to_string(n));
        return ok;
    }

private:
    Events& events_;
};

// The events the one-by-one loop gives when it writes `written` blocks; with
// `cancelAtStop` it then reports piece `written` and sees Cancel.
Events EventsInOrder(const Expected& e, std::size_t written, bool cancelAtStop = false) {
    Events events;
    for (std::size_t k = 0; k < written; ++k) {
        events.push_back("add " + std::to_string(e.pieces[k]));
        events.push_back("go on");
        events.push_back("write " + std::to_string(e.blockStarts[k + 1] - e.blockStarts[k]));
    }
    if (cancelAtStop) {
        events.push_back("add " + std::to_string(e.pieces[written]));
        events.push_back("cancel");
    }
    return events;
}

struct DataKind {
    const char* name;
    Bytes (*make)(std::size_t n, std::uint32_t seed);
};

Bytes Zeros(std::size_t n, std::uint32_t) { return Bytes(n, 0); }

const DataKind kKinds[] = {
    {"random", testing::RandomBytes},
    {"code", testing::CodeLike},
    {"zeros", Zeros},
};

const std::size_t kSizes[] = {0, 1, kBlockPiece, kBlockPiece + 1, 5 * kBlockPiece, 37 * kBlockPiece + 4321};

struct EncodeRun {
    CodecContext context;
    Bytes stream;
    Events events;
    std::size_t addCalls = 0;
    bool foreignThread = false;
    std::vector<ErrorEntry> errors;
};

// Encodes `source` (its bytes from the start) with a progress object that
// cancels at check `cancelAt`, into a destination refusing growth past
// `writeLimit`.
EncodeRun Encode(MemoryFile& source, std::uint32_t length, std::size_t cancelAt = SIZE_MAX,
           std::size_t writeLimit = SIZE_MAX) {
    ClearErrors();
    EncodeRun run;
    EventFile destination(run.events);
    destination.writeLimit = writeLimit;
    EventProgress progress(run.events);
    progress.cancelAtCheck = cancelAt;
    run.context.dataLength = length;
    run.context.runningChecksums = 1;
    run.context.progress = &progress;
    EncodeStream(destination, source, run.context);
    run.stream = destination.Bytes();
    run.addCalls = progress.addCalls;
    run.foreignThread = progress.foreignThread;
    run.errors = PendingErrors();
    ClearErrors();
    return run;
}

TEST(ParallelStream, GivesWhatThePiecesEncodedOneByOneGive) {
    for (const DataKind& kind : kKinds) {
        for (std::size_t size : kSizes) {
            SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(size));
            const Bytes data = kind.make(size, static_cast<std::uint32_t>(size) + 11);
            const Expected e = EncodePieceByPiece(data);
            MemoryFile source(data);
            const EncodeRun run = Encode(source, static_cast<std::uint32_t>(size));
            ASSERT_EQ(run.context.status, kCodecOk);
            EXPECT_TRUE(run.stream == e.stream);
            EXPECT_EQ(run.context.blockLength, e.context.blockLength);
            EXPECT_EQ(run.context.dataChecksum, e.context.dataChecksum);
            EXPECT_EQ(run.context.blockChecksum, e.context.blockChecksum);
            EXPECT_EQ(run.events, EventsInOrder(e, e.pieces.size()));
            EXPECT_FALSE(run.foreignThread);
            EXPECT_TRUE(run.errors.empty());
        }
    }
}

TEST(ParallelStream, WithoutRunningChecksumsTheGivenOnesStay) {
    const Bytes data = testing::CodeLike(9 * kBlockPiece + 5, 3);
    MemoryFile source(data);
    MemoryFile destination;
    CodecContext c;
    c.dataLength = static_cast<std::uint32_t>(data.size());
    c.dataChecksum = 0x1234;
    c.blockChecksum = 0x5678;
    c.runningChecksums = 0;
    EncodeStream(destination, source, c);
    ASSERT_EQ(c.status, kCodecOk);
    EXPECT_EQ(c.dataChecksum, 0x1234);
    EXPECT_EQ(c.blockChecksum, 0x5678);
    EXPECT_TRUE(destination.Bytes() == EncodePieceByPiece(data).stream);
}

// Stops at piece k: the blocks before it are written, in order, and no other.
class ParallelStreamStop : public ::testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override {
        data = testing::CodeLike(37 * kBlockPiece + 4321, 21);
        e = EncodePieceByPiece(data);
        k = GetParam();
    }
    Bytes Prefix() const { return Bytes(e.stream.begin(), e.stream.begin() + e.blockStarts[k]); }

    Bytes data;
    Expected e;
    std::size_t k = 0;
};

TEST_P(ParallelStreamStop, CancelWritesTheBlocksBeforeIt) {
    MemoryFile source(data);
    const EncodeRun run = Encode(source, static_cast<std::uint32_t>(data.size()), k);
    EXPECT_EQ(run.context.status, kCodecCancelled);
    EXPECT_TRUE(run.stream == Prefix());
    EXPECT_EQ(run.context.blockLength, e.blockStarts[k]);
    EXPECT_EQ(run.addCalls, k + 1);
    EXPECT_EQ(run.events, EventsInOrder(e, k, true));
    EXPECT_FALSE(run.foreignThread);
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_EQ(run.errors[0].function, 0x3Bu);
    EXPECT_EQ(run.errors[0].code, 0x32u);
}

TEST_P(ParallelStreamStop, ShortSourceWritesTheBlocksBeforeIt) {
    // The source ends inside piece k; the caller asks for all of it.
    MemoryFile source(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(k * kBlockPiece + 100)));
    const EncodeRun run = Encode(source, static_cast<std::uint32_t>(data.size()));
    EXPECT_EQ(run.context.status, kCodecShortInput);
    EXPECT_TRUE(run.stream == Prefix());
    EXPECT_EQ(run.context.blockLength, e.blockStarts[k]);
    EXPECT_EQ(run.addCalls, k);
    EXPECT_EQ(run.events, EventsInOrder(e, k));
    EXPECT_TRUE(run.errors.empty());

    // A read error there ends the same way.
    MemoryFile failing(data);
    failing.readErrorAt = k * kBlockPiece;
    const EncodeRun failed = Encode(failing, static_cast<std::uint32_t>(data.size()));
    EXPECT_EQ(failed.context.status, kCodecShortInput);
    EXPECT_TRUE(failed.stream == Prefix());
    EXPECT_EQ(failed.events, EventsInOrder(e, k));
}

TEST_P(ParallelStreamStop, RefusedWriteWritesTheBlocksBeforeIt) {
    MemoryFile source(data);
    const EncodeRun run = Encode(source, static_cast<std::uint32_t>(data.size()), SIZE_MAX, e.blockStarts[k] + 1);
    EXPECT_EQ(run.context.status, kCodecWriteFailed);
    EXPECT_TRUE(run.stream == Prefix());
    EXPECT_EQ(run.context.blockLength, e.blockStarts[k]);
    EXPECT_EQ(run.addCalls, k + 1);
    Events expected = EventsInOrder(e, k);
    expected.push_back("add " + std::to_string(e.pieces[k]));
    expected.push_back("go on");
    expected.push_back("refused " + std::to_string(e.blockStarts[k + 1] - e.blockStarts[k]));
    EXPECT_EQ(run.events, expected);
    EXPECT_TRUE(run.errors.empty());
}

// The first pieces, the middle, the last full piece and the short tail.
INSTANTIATE_TEST_SUITE_P(Pieces, ParallelStreamStop, ::testing::Values(0, 1, 2, 3, 8, 20, 36, 37));

TEST(ParallelStream, StreamsOnSeveralThreadsAtOnceStayApart) {
    const Bytes a = testing::CodeLike(12 * kBlockPiece + 9, 31);
    const Bytes b = testing::Words(15 * kBlockPiece + 77, 32);
    Bytes outA, outB;
    auto encode = [](const Bytes& data, Bytes& out) {
        MemoryFile source(data);
        MemoryFile destination;
        CodecContext c;
        c.dataLength = static_cast<std::uint32_t>(data.size());
        c.runningChecksums = 1;
        EncodeStream(destination, source, c);
        if (c.status == kCodecOk) out = destination.Bytes();
    };
    std::thread first([&] { encode(a, outA); });
    std::thread second([&] { encode(b, outB); });
    first.join();
    second.join();
    EXPECT_TRUE(outA == EncodePieceByPiece(a).stream);
    EXPECT_TRUE(outB == EncodePieceByPiece(b).stream);
}

}  // namespace
}  // namespace tarnwick
