// The string-table reader of resource libraries over any file.
//
// Checked: every read stays within the file's bytes (AddressSanitizer),
// texts come whole or not at all, and LoadStringA's copy keeps within the
// buffer it is given (a heap block of exactly its size).
#include "fuzz/fuzz_prefix.h"
#include "platform/host/libraries/pe_strings.h"
#include "platform/host/text/code_page.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void Check(bool ok, const char *what)
{
    if (ok) return;
    std::fprintf(stderr, "pe_strings_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<unsigned char> bytes(data, data + size);
    std::optional<host::PeImage> image = host::ParsePeImage(std::move(bytes));
    if (!image) return 0;
    Check(image->file.size() == size, "the image does not hold the file");
    // The program's texts, the edges of a table, and an id from the file.
    uint32_t from_file = size >= 4 ? static_cast<uint32_t>(data[size - 1] | data[size - 2] << 8 | data[size - 3] << 16 | data[size - 4] << 24) : 0;
    for (uint32_t id : {0u, 2u, 6u, 7u, 8u, 15u, 16u, 0xFFFFu, 0x10002u, from_file}) {
        std::optional<std::u16string> text = host::FindStringResource(*image, id);
        if (!text) continue;
        for (int buffer_size : {1, 2, 2048}) {
            std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(buffer_size)]);
            int n = host::CopyStringResource(*text, buffer.get(), buffer_size, host::CodePage::ForNumber(1252));
            Check(n >= 0 && n < buffer_size && buffer[static_cast<std::size_t>(n)] == '\0', "a string copy overruns");
        }
    }
    for (uint32_t type : {3u, 14u, 16u}) host::FindResourceData(*image, type, 1);
    return 0;
}
