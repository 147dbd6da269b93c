// The readers of what the mtools children answer (mdir's listing,
// mattrib's attribute letters, mshowfat's runs of clusters), over any
// text: a damaged or hostile volume puts its own names and numbers into
// those answers. minfo's answer is not read, only its exit status.
//
// Checked: "." and ".." never become entries; attributes are set only as
// letters the answer holds; a chain counts no more clusters than its limit
// allows and, when it does not loop, none twice.
#include "platform/host/disk_image/mtools_answers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool ok, const char *what)
{
    if (ok) return;
    std::fprintf(stderr, "mtools_answers_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view text(reinterpret_cast<const char *>(data), size);
    host::MdirAnswer listing = host::ParseMdirAnswer(text);
    for (const host::DriveEntry &e : listing.entries) Check(e.name != "." && e.name != "..", "a dot entry listed");
    // The same text as mattrib's answer for the entries mdir gave.
    host::ApplyMattribAnswer(text, &listing.entries);
    for (const host::DriveEntry &e : listing.entries) {
        if (!e.attributes_read) continue;
        Check(!e.read_only || text.find('R') != std::string_view::npos, "a read-only attribute from nowhere");
        for (char letter : e.kept_attributes) Check(text.find(letter) != std::string_view::npos, "an attribute from nowhere");
    }
    host::DriveEntry one;
    if (host::ParseMattribAnswer(text, &one)) Check(one.attributes_read, "attributes parsed but not marked read");
    uint64_t limit = size ? data[0] : 0;
    host::ChainAnswer chain = host::ParseMshowfatAnswer(text, limit);
    Check(chain.clusters <= limit + 1, "a chain counted past its limit");
    return 0;
}
