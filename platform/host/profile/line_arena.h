// The texts of a profile's lines, addressed by 32-bit offsets that stay
// valid while texts are added: a text never moves once placed.
//
// The file's own bytes come first; texts written later go into blocks of
// at least 1 MiB (2 MiB, for huge pages, once the arena is large). The
// offset space is cut into 1 MiB pages, each mapped to where its bytes lie,
// so finding a text costs one table look-up and growing the arena copies
// nothing (a file written key by key grows to tens of MiB).
#ifndef PFMSETUP_PLATFORM_HOST_PROFILE_LINE_ARENA_H
#define PFMSETUP_PLATFORM_HOST_PROFILE_LINE_ARENA_H

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class TextArena {
public:
    // Room for `length` bytes, in one piece; its offset in *offset. The
    // bytes are the caller's to fill.
    char *Reserve(std::size_t length, uint32_t *offset);
    // A copy of `text`, and its offset.
    uint32_t Append(std::string_view text);
    // The same for a whole file's bytes, taken over instead of copied.
    uint32_t Adopt(std::string &&bytes);

    char *At(uint32_t offset) { return pages_[offset >> kPageShift] + (offset & kPageMask); }
    const char *At(uint32_t offset) const { return pages_[offset >> kPageShift] + (offset & kPageMask); }
    std::string_view View(uint32_t offset, uint32_t length) const { return std::string_view(At(offset), length); }

    // Whether the `length` bytes at `offset` are followed by `bytes` among
    // the bytes handed out so far (a line's text by its line end, so that
    // consecutive lines can be written out as they lie).
    bool Followed(uint32_t offset, uint32_t length, std::string_view bytes) const;

private:
    static constexpr unsigned kPageShift = 20;
    static constexpr uint32_t kPageSize = 1u << kPageShift;
    static constexpr uint32_t kPageMask = kPageSize - 1;

    struct Block {
        struct Free {
            void operator()(char *p) const { std::free(p); }
        };
        std::unique_ptr<char, Free> bytes;
        std::unique_ptr<std::string> adopted;  // or the bytes taken over
        char *data = nullptr;
        std::size_t size = 0;
        std::size_t used_end = 0;  // the offset after its last byte handed out
    };
    std::vector<Block> blocks_;
    std::vector<char *> pages_;           // where each page of the offset space lies
    std::vector<uint32_t> page_blocks_;   // the block each page belongs to
    std::size_t next_ = 0;       // the next free offset of the last block
    std::size_t end_ = 0;        // the end of the last block's offsets

    // Maps a new block's pages at the end of the offset space; its offset.
    std::size_t AddBlock(Block block);
};

}  // namespace host

#endif
