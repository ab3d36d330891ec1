#include "sim/memory.h"

#include <algorithm>

#include "codec/crc16.h"

namespace panelsim {

Memory::Memory(const PanelConfig& config) : config_(config) {
    flash_.assign(static_cast<std::size_t>(FlashSizeBytes(config)), 0xFF);
    std::uint64_t at = config.flashStart;
    for (const Bank& bank : config.banks) {
        for (std::uint32_t i = 0; i < bank.sectors; ++i) {
            Sector s;
            s.start = static_cast<std::uint32_t>(at);
            s.size = bank.sizeKb * 1024;
            if (s.size == 0) continue;
            sectors_.push_back(s);
            at += s.size;
        }
    }
    loaderStart_ = LoaderStart(config);

    // The bootloader's fixed cells: the block pointer, four unused bytes and
    // the date text, up to the end of the 64 MiB window.
    std::uint8_t fixed[20];
    const std::uint32_t pointer = config.blockPointer.value_or(config.blockAddress);
    for (int i = 0; i < 4; ++i) fixed[i] = static_cast<std::uint8_t>(pointer >> (8 * i));
    for (int i = 4; i < 12; ++i) fixed[i] = 0xFF;
    const std::string text = EffectiveDateText(config);
    for (int i = 0; i < 8; ++i) fixed[12 + i] = static_cast<std::uint8_t>(i < static_cast<int>(text.size()) ? text[static_cast<std::size_t>(i)] : ' ');
    PlaceFixed(kBlockPointerAddress, fixed, sizeof fixed);

    const auto block = BuildHardwareBlock(config);
    PlaceFixed(config.blockAddress, block.data(), block.size());
}

void Memory::PlaceFixed(std::uint32_t address, const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(i);
        if (InFlash(a, 1)) flash_[a - config_.flashStart] = data[i];
        else rom_[a] = data[i];
    }
}

bool Memory::InFlash(std::uint32_t address, std::uint64_t count) const {
    return address >= config_.flashStart && static_cast<std::uint64_t>(address) + count <= FlashEnd();
}

bool Memory::TouchesLoader(std::uint32_t address, std::uint64_t count) const {
    if (!loaderStart_ || LoaderSize(config_) == 0) return false;
    const std::uint64_t ls = *loaderStart_;
    const std::uint64_t le = ls + LoaderSize(config_);
    const std::uint64_t a = address;
    const std::uint64_t e = a + std::max<std::uint64_t>(count, 1);
    return a < le && ls < e;
}

bool Memory::Readable(std::uint32_t address, std::uint64_t count) const {
    std::uint64_t a = address;
    const std::uint64_t end = a + count;
    if (end > 0x100000000ull) return false;
    while (a < end) {
        if (a >= config_.flashStart && a < FlashEnd()) {
            a = std::min(end, FlashEnd());
            continue;
        }
        if (rom_.find(static_cast<std::uint32_t>(a)) == rom_.end()) return false;
        ++a;
    }
    return true;
}

bool Memory::Read(std::uint32_t address, std::uint32_t count, std::uint8_t* out) const {
    if (!Readable(address, count)) return false;
    for (std::uint32_t i = 0; i < count;) {
        const std::uint32_t a = address + i;
        if (InFlash(a, 1)) {
            const std::uint64_t take = std::min<std::uint64_t>(count - i, FlashEnd() - a);
            std::copy_n(flash_.data() + (a - config_.flashStart), take, out + i);
            i += static_cast<std::uint32_t>(take);
        } else {
            out[i++] = rom_.at(a);
        }
    }
    return true;
}

bool Memory::Checksum(std::uint32_t address, std::uint32_t count, std::uint16_t& crc) const {
    if (!Readable(address, count)) return false;
    std::uint16_t c = 0xFFFF;
    std::uint8_t buf[4096];
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t n = std::min<std::uint32_t>(count - done, sizeof buf);
        Read(address + done, n, buf);
        c = tarnwick::Crc16(buf, n, c);
        done += n;
    }
    crc = c;
    return true;
}

int Memory::SectorAt(std::uint32_t address) const {
    auto it = std::upper_bound(sectors_.begin(), sectors_.end(), address,
                               [](std::uint32_t a, const Sector& s) { return a < s.start; });
    if (it == sectors_.begin()) return -1;
    --it;
    if (static_cast<std::uint64_t>(address) >= static_cast<std::uint64_t>(it->start) + it->size) return -1;
    return static_cast<int>(it - sectors_.begin());
}

int Memory::SectorStartingAt(std::uint32_t address) const {
    const int i = SectorAt(address);
    return i >= 0 && sectors_[static_cast<std::size_t>(i)].start == address ? i : -1;
}

ProgramResult Memory::Program(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    ProgramResult result;
    int lastSector = -2;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t a = address + i;
        const int s = SectorAt(a);
        if (s != lastSector) {
            lastSector = s;
            if (s >= 0 && !sectors_[static_cast<std::size_t>(s)].erasedSinceStart) result.unerasedSectors.push_back(s);
        }
        std::uint8_t& cell = flash_[a - config_.flashStart];
        const std::uint8_t value = static_cast<std::uint8_t>(cell & data[i]);
        if (value != data[i]) ++result.conflictBytes;
        cell = value;
    }
    return result;
}

void Memory::Erase(int sector) {
    Sector& s = sectors_[static_cast<std::size_t>(sector)];
    std::fill_n(flash_.begin() + (s.start - config_.flashStart), s.size, 0xFF);
    s.erasedSinceStart = true;
    s.erasedThisConnection = true;
    ++s.eraseCount;
}

void Memory::NewConnection() {
    for (Sector& s : sectors_) s.erasedThisConnection = false;
}

bool Memory::Store(std::uint32_t address, const std::uint8_t* data, std::size_t count) {
    if (!InFlash(address, count)) return false;
    std::copy_n(data, count, flash_.begin() + (address - config_.flashStart));
    return true;
}

}  // namespace panelsim
