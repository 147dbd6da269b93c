#include "text_arena.h"

#include <cstring>
#include <new>

namespace host {

char *TextArena::Reserve(std::size_t length, uint32_t *offset)
{
    if (length == 0 && !blocks_.empty()) {
        *offset = 0;  // any place will do for nothing
        return At(0);
    }
    if (blocks_.empty() || end_ - next_ < length) {
        // A new block, starting on a page of its own; the rest of the last
        // block stays unused.
        std::size_t size = length < kPageSize ? kPageSize : length;
        std::size_t pages = (size + kPageMask) >> kPageShift;
        if (pages_.size() + pages > (std::size_t{1} << (32 - kPageShift))) throw std::bad_alloc();
        Block block;
        block.bytes.reset(new char[pages << kPageShift]);
        block.size = pages << kPageShift;
        next_ = pages_.size() << kPageShift;
        for (std::size_t p = 0; p < pages; ++p) pages_.push_back(block.bytes.get() + (p << kPageShift));
        end_ = next_ + block.size;
        blocks_.push_back(std::move(block));
    }
    *offset = static_cast<uint32_t>(next_);
    next_ += length;
    return At(*offset);
}

uint32_t TextArena::Append(std::string_view text)
{
    uint32_t offset;
    char *at = Reserve(text.size(), &offset);
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    return offset;
}

}  // namespace host
