#include "platform/host/profile/line_arena.h"

#include <cstring>
#include <new>
#include <cstdlib>
#include <sys/mman.h>

namespace host {

std::size_t TextArena::AddBlock(Block block)
{
    std::size_t pages = (block.size + kPageMask) >> kPageShift;
    if (pages == 0) pages = 1;
    if (pages_.size() + pages > (std::size_t{1} << (32 - kPageShift))) throw std::bad_alloc();
    if (!blocks_.empty()) blocks_.back().used_end = next_;
    std::size_t offset = pages_.size() << kPageShift;
    for (std::size_t p = 0; p < pages; ++p) {
        pages_.push_back(block.data + (p << kPageShift));
        page_blocks_.push_back(static_cast<uint32_t>(blocks_.size()));
    }
    block.used_end = offset;
    blocks_.push_back(std::move(block));
    return offset;
}

char *TextArena::Reserve(std::size_t length, uint32_t *offset)
{
    if (length == 0 && !blocks_.empty()) {
        *offset = 0;  // any place will do for nothing
        return At(0);
    }
    if (blocks_.empty() || end_ - next_ < length) {
        // A new block, starting on a page of its own; the rest of the last
        // block stays unused.
        Block block;
        // Once the arena is large (a file written key by key), blocks of
        // 2 MiB, aligned to it and offered to the kernel for huge pages:
        // filling fresh memory is then a fault per 2 MiB instead of per
        // 4 KiB, which on this kind of machine is a tenth of the time of a
        // large installation. Small files keep small pages.
        const std::size_t kHuge = 2 * kPageSize;
        bool huge = (pages_.size() << kPageShift) >= 4 * kHuge;
        std::size_t unit = huge ? kHuge : kPageSize;
        block.size = ((length < unit ? unit : length) + unit - 1) & ~(unit - 1);
        void *memory = std::aligned_alloc(unit, block.size);
        if (!memory) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        if (huge) madvise(memory, block.size, MADV_HUGEPAGE);  // advice only
#endif
        block.bytes.reset(static_cast<char *>(memory));
        block.data = block.bytes.get();
        std::size_t size = block.size;
        next_ = AddBlock(std::move(block));
        end_ = next_ + size;
    }
    *offset = static_cast<uint32_t>(next_);
    next_ += length;
    return At(*offset);
}

uint32_t TextArena::Adopt(std::string &&bytes)
{
    if (bytes.empty()) return Append(bytes);
    Block block;
    block.adopted = std::make_unique<std::string>(std::move(bytes));
    block.data = &(*block.adopted)[0];
    block.size = block.adopted->size();
    std::size_t size = block.size;
    std::size_t offset = AddBlock(std::move(block));
    // Nothing more goes into a file's bytes.
    next_ = offset + size;
    end_ = next_;
    return static_cast<uint32_t>(offset);
}

uint32_t TextArena::Append(std::string_view text)
{
    uint32_t offset;
    char *at = Reserve(text.size(), &offset);
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    return offset;
}

bool TextArena::Followed(uint32_t offset, uint32_t length, std::string_view bytes) const
{
    if (bytes.empty()) return true;
    if ((offset >> kPageShift) >= pages_.size()) return false;
    uint32_t block = page_blocks_[offset >> kPageShift];
    std::size_t used_end = block + 1 == blocks_.size() ? next_ : blocks_[block].used_end;
    std::size_t end = static_cast<std::size_t>(offset) + length;
    return end + bytes.size() <= used_end && std::memcmp(At(offset) + length, bytes.data(), bytes.size()) == 0;
}

}  // namespace host
