// Block streams: any amount of data as a sequence of blocks of 16384 data
// bytes (the last one shorter), moved between two files from where they stand.
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "app/file.h"
#include "codec/crc16.h"
#include "codec/lz_codec.h"
#include "link/error_codes.h"
#include "link/error_state.h"
#include "ports/progress.h"

namespace tarnwick {
namespace {

constexpr std::uint32_t kFunctionCompressStream = 0x3B;

inline std::uint32_t Get16(const std::uint8_t* p) {
    return p[0] | (static_cast<std::uint32_t>(p[1]) << 8);
}

// Pieces are compressed on worker threads while the calling thread reads the
// source, talks to the progress object and writes the blocks in order. Every
// step a caller can see (what is written and when, progress, Cancel, the
// checksums, the status) happens on the calling thread in the same order as
// one piece after the other would give; a worker only runs ahead on pieces
// that are thrown away when the stream stops early.
constexpr unsigned kMaxEncodeWorkers = 4;
constexpr std::size_t kSlotsPerWorker = 2;   // one being encoded, one waiting
constexpr std::uint64_t kParallelFromPieces = 3;

struct EncodeSlot {
    std::array<std::uint8_t, kBlockPiece> piece;
    std::array<std::uint8_t, kMaxBlockSize> block;
    std::uint32_t length = 0;
    std::uint64_t doneFor = 0;   // number of the piece encoded here, plus one
};

class EncodeWorkers {
public:
    EncodeWorkers(EncodeSlot* slots, std::size_t slotCount) : slots_(slots), slotCount_(slotCount) {}
    EncodeWorkers(const EncodeWorkers&) = delete;
    EncodeWorkers& operator=(const EncodeWorkers&) = delete;

    ~EncodeWorkers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        for (auto& t : threads_) t.join();
    }

    // Starts up to `count` threads; returns how many run. A system that
    // refuses more threads gets along with fewer.
    std::size_t Start(unsigned count) {
        threads_.reserve(count);
        for (unsigned i = 0; i < count; ++i) {
            try {
                threads_.emplace_back([this] { Run(); });
            } catch (const std::system_error&) {
                break;
            }
        }
        return threads_.size();
    }

    // Piece `number` lies in its slot and may be encoded.
    void Submit(std::uint64_t number) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            submitted_ = number + 1;
        }
        work_.notify_one();
    }

    // Waits until piece `number` has its block.
    EncodeSlot& Wait(std::uint64_t number) {
        EncodeSlot& slot = slots_[number % slotCount_];
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return slot.doneFor == number + 1; });
        return slot;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            work_.wait(lock, [this] { return stop_ || taken_ < submitted_; });
            if (stop_) return;
            const std::uint64_t number = taken_++;
            EncodeSlot& slot = slots_[number % slotCount_];
            lock.unlock();
            CodecContext block;
            block.dataLength = slot.length;
            block.runningChecksums = 0;   // carried on in order by the caller
            EncodeBlock(slot.block.data(), slot.piece.data(), block);
            lock.lock();
            slot.doneFor = number + 1;
            done_.notify_one();
        }
    }

    EncodeSlot* const slots_;
    const std::size_t slotCount_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::uint64_t submitted_ = 0;
    std::uint64_t taken_ = 0;
    bool stop_ = false;
};

void StopCancelled(CodecContext& context) {
    context.status = kCodecCancelled;
    ReportError(kFunctionCompressStream, kErrorCancelled);
}

// Cancel is looked at once per piece, right after it was read and before
// its block is written.
bool PieceCancelled(CodecContext& context, std::uint32_t n) {
    if (context.progress == nullptr) return false;
    context.progress->AddProgress(n);
    return context.progress->IsCancelled();
}

void EncodeStreamInOrder(File& destination, File& source, CodecContext& context) {
    CodecContext work = context;
    std::array<std::uint8_t, kBlockPiece> piece;
    std::array<std::uint8_t, kMaxBlockSize> block;

    std::uint32_t remaining = context.dataLength;
    while (remaining > 0) {
        const std::uint32_t n = remaining < kBlockPiece ? remaining : static_cast<std::uint32_t>(kBlockPiece);
        if (source.Read(piece.data(), n) != static_cast<std::int64_t>(n)) {
            context.status = kCodecShortInput;
            return;
        }
        if (PieceCancelled(context, n)) {
            StopCancelled(context);
            return;
        }
        work.dataLength = n;
        EncodeBlock(block.data(), piece.data(), work);
        if (!destination.Write(block.data(), work.blockLength)) {
            context.status = kCodecWriteFailed;
            return;
        }
        context.blockLength += work.blockLength;
        remaining -= n;
    }
    // Without running checksums the work copy still holds the values given.
    context.dataChecksum = work.dataChecksum;
    context.blockChecksum = work.blockChecksum;
    context.status = kCodecOk;
}

unsigned EncodeWorkerCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores < kMaxEncodeWorkers ? cores : kMaxEncodeWorkers;
}

}  // namespace

void EncodeStream(File& destination, File& source, CodecContext& context) {
    context.blockLength = 0;
    const std::uint32_t total = context.dataLength;
    const std::uint64_t pieces = (static_cast<std::uint64_t>(total) + kBlockPiece - 1) / kBlockPiece;
    const unsigned wanted = EncodeWorkerCount();
    if (pieces < kParallelFromPieces || wanted < 2) {
        EncodeStreamInOrder(destination, source, context);
        return;
    }
    const std::size_t slotCount = kSlotsPerWorker * wanted;
    std::unique_ptr<EncodeSlot[]> slots(new (std::nothrow) EncodeSlot[slotCount]);
    if (!slots) {
        EncodeStreamInOrder(destination, source, context);
        return;
    }
    EncodeWorkers workers(slots.get(), slotCount);
    if (workers.Start(wanted) == 0) {
        EncodeStreamInOrder(destination, source, context);
        return;
    }

    std::uint16_t dataChecksum = context.dataChecksum;
    std::uint16_t blockChecksum = context.blockChecksum;
    std::uint32_t unread = total;
    std::uint64_t read = 0;
    bool shortInput = false;
    for (std::uint64_t written = 0; written < pieces; ++written) {
        // Keep the window full: the workers encode while the blocks before
        // are written.
        while (!shortInput && read < pieces && read - written < slotCount) {
            const std::uint32_t n = unread < kBlockPiece ? unread : static_cast<std::uint32_t>(kBlockPiece);
            EncodeSlot& slot = slots[read % slotCount];
            if (source.Read(slot.piece.data(), n) != static_cast<std::int64_t>(n)) {
                shortInput = true;
                break;
            }
            slot.length = n;
            workers.Submit(read);
            unread -= n;
            ++read;
        }
        if (written == read) {   // every piece before the short one is written
            context.status = kCodecShortInput;
            return;
        }
        EncodeSlot& slot = workers.Wait(written);
        if (PieceCancelled(context, slot.length)) {
            StopCancelled(context);
            return;
        }
        const std::uint8_t* const block = slot.block.data();
        const std::uint32_t payloadLength = Get16(block);
        const std::uint32_t blockLength = payloadLength + static_cast<std::uint32_t>(kBlockHeaderSize);
        if (!destination.Write(block, blockLength)) {
            context.status = kCodecWriteFailed;
            return;
        }
        context.blockLength += blockLength;
        if (context.runningChecksums != 0) {
            // The block's own checksums are in its header; carry the running
            // ones over its data, then over its header and payload.
            dataChecksum = Crc16Reseed(static_cast<std::uint16_t>(Get16(block + 6)), dataChecksum, slot.length);
            const std::uint16_t afterHeader = Crc16(block, kBlockHeaderSize, blockChecksum);
            blockChecksum = Crc16Reseed(static_cast<std::uint16_t>(Get16(block + 4)), afterHeader, payloadLength);
        }
    }
    context.dataChecksum = dataChecksum;
    context.blockChecksum = blockChecksum;
    context.status = kCodecOk;
}

void DecodeStream(File& destination, File& source, CodecContext& context) {
    context.status = kCodecDamagedStream;
    CodecContext work = context;
    std::array<std::uint8_t, kMaxBlockSize> block;
    std::array<std::uint8_t, kBlockPiece> data;

    std::uint32_t remaining = context.blockLength;
    while (remaining > 0) {
        if (remaining < kBlockHeaderSize ||
            source.Read(block.data(), kBlockHeaderSize) != static_cast<std::int64_t>(kBlockHeaderSize)) {
            context.status = kCodecShortBlock;
            return;
        }
        const std::uint32_t l = Get16(block.data());
        if (l > kBlockPiece) return;  // damage: the status stays at 1
        // A block that reaches past the stream's given length is cut off;
        // whatever follows in the file belongs to something else.
        if (remaining - kBlockHeaderSize < l ||
            source.Read(block.data() + kBlockHeaderSize, l) != static_cast<std::int64_t>(l)) {
            context.status = kCodecShortBlock;
            return;
        }
        DecodeBlock(data.data(), data.size(), block.data(), kBlockHeaderSize + l, work);
        if (work.status != kCodecOk) return;  // the status stays at 1
        if (!destination.Write(data.data(), work.dataLength)) {
            context.status = kCodecWriteFailed;
            return;
        }
        context.dataLength += work.dataLength;
        remaining -= kBlockHeaderSize + l;
    }
    // Running checksums, or the last block's checksums when they are off.
    context.dataChecksum = work.dataChecksum;
    context.blockChecksum = work.blockChecksum;
    context.status = kCodecOk;
}

}  // namespace tarnwick
