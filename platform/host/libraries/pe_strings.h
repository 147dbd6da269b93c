// String resources read straight from a 32-bit PE file (a resource
// library), as the system's loader and LoadStringA see them, without
// running anything from the file.
//
// Every read is bounded by the file: a truncated or malformed file reads
// as "not an image" (the loader would refuse it) or as "string absent",
// never beyond the bytes that were read.
#ifndef PFMSETUP_PLATFORM_HOST_LIBRARIES_PE_STRINGS_H
#define PFMSETUP_PLATFORM_HOST_LIBRARIES_PE_STRINGS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/text/code_page.h"

namespace host {

// One section of the image: where it lies in memory (relative to the
// image base) and which bytes of the file fill it.
struct PeSection {
    std::uint32_t virtual_address = 0;
    std::uint32_t virtual_size = 0;
    std::uint32_t raw_offset = 0;
    std::uint32_t raw_size = 0;
};

// A file checked as an i386 PE image, with what is needed to read its
// resources.
struct PeImage {
    std::vector<unsigned char> file;
    std::uint32_t header_size = 0;
    std::vector<PeSection> sections;
    std::uint32_t resource_rva = 0;   // 0 when the image has no resources
    std::uint32_t resource_size = 0;
};

// Checks the bytes of a file as the loader does before it maps an image:
// the MZ and PE signatures, an i386 executable image with a PE32 optional
// header, and headers and section data that lie within the file. No result
// for anything else.
std::optional<PeImage> ParsePeImage(std::vector<unsigned char> file);

// Reads a file (a Unix path) and checks it as ParsePeImage does. No result
// when it cannot be read, is not a regular file or is larger than any
// resource library (64 MiB).
std::optional<PeImage> ReadPeImage(const std::string &unix_path);

// The bytes of resource `name` of `type` (both numbers), in the language
// the platform prefers for a resource asked for without one: the neutral
// language, then US English, then English, then the first listed. No
// result when the image lacks it or its data do not lie within the image.
std::optional<std::vector<unsigned char>> FindResourceData(const PeImage &image, std::uint32_t type,
                                                          std::uint32_t name);

// The UTF-16 text of string resource `id` as LoadStringA finds it: the
// low 16 bits of the id select string table (id / 16) + 1 and entry
// id % 16, found as FindResourceData finds a resource. An empty entry is
// an empty text. No result when the image has no such table, or the table
// does not hold the entry within its bounds.
std::optional<std::u16string> FindStringResource(const PeImage &image, std::uint32_t id);


// LoadStringA's copy: `text` converted unit by unit into `code_page` and
// cut to size - 1 bytes, then a NUL; a character of two bytes that would
// be cut is left out whole. Returns the bytes copied, without the NUL. A
// size of 0 writes nothing and returns -1; a negative size does not cut.
int CopyStringResource(std::u16string_view text, char *buffer, int size, const CodePage &code_page);

}  // namespace host

#endif
