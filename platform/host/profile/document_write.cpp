// The profile written out: lines that no write touched as the file had
// them (in an encoded file, its original bytes), edited lines in the
// file's encoding, each with its own line end.
//
// Lines whose text is followed in the arena by their own line end and which
// lie one after another there (those of the file as it was read, those
// added in a row) go out as they lie, in runs, without a copy.
#include "platform/host/profile/document.h"

#include "platform/host/text/cp1252.h"

#include <cstring>

namespace host {
namespace {

const std::string_view kEnds[] = {"", "\r\n", "\n", "\r"};

void AppendEncoded(std::string &out, std::string_view ansi, ProfileEncoding encoding)
{
    switch (encoding) {
    case ProfileEncoding::Ansi:
        out.append(ansi);
        break;
    case ProfileEncoding::Utf8:
        for (char c : ansi) AppendUtf8(out, Cp1252ToUnicode(static_cast<unsigned char>(c)));
        break;
    case ProfileEncoding::Utf16Le:
    case ProfileEncoding::Utf16Be:
        for (char c : ansi) {
            char32_t u = Cp1252ToUnicode(static_cast<unsigned char>(c));
            char hi = static_cast<char>(u >> 8);
            char lo = static_cast<char>(u & 0xFF);
            if (encoding == ProfileEncoding::Utf16Le) {
                out += lo;
                out += hi;
            } else {
                out += hi;
                out += lo;
            }
        }
        break;
    }
}

}  // namespace

void ProfileDocument::EmitLine(const Line &line, std::string &out) const
{
    if (encoding_ == ProfileEncoding::Ansi) {
        // Most files: the text and its line end as they are.
        std::string_view end = kEnds[line.end];
        std::size_t at = out.size();
        out.resize(at + line.length + end.size());
        if (line.length) std::memcpy(&out[at], arena_.At(line.text), line.length);
        if (!end.empty()) std::memcpy(&out[at + line.length], end.data(), end.size());
        return;
    }
    if (line.edited) {
        AppendEncoded(out, TextOf(line), encoding_);
    } else {
        uint32_t raw, raw_length;
        std::memcpy(&raw, arena_.At(line.text - 8), 4);
        std::memcpy(&raw_length, arena_.At(line.text - 8) + 4, 4);
        out.append(raw_, raw, raw_length);
    }
    AppendEncoded(out, kEnds[line.end], encoding_);
}

void ProfileDocument::SerializeTo(const std::function<void(std::string_view)> &sink) const
{
    const std::size_t kPiece = 1 << 20;
    // The lines that cannot go out as they lie are put together in `chunk`.
    // Only one of the run and the chunk is pending at a time, so the order
    // of the lines is kept.
    std::string chunk;
    chunk += bom_;
    const char *run = nullptr;
    std::size_t run_length = 0;
    auto flush_run = [&] {
        if (run_length) sink(std::string_view(run, run_length));
        run_length = 0;
    };
    auto flush_chunk = [&] {
        if (!chunk.empty()) sink(chunk);
        chunk.clear();
    };
    auto emit = [&](const Line &line) {
        if (encoding_ == ProfileEncoding::Ansi && arena_.Followed(line.text, line.length, kEnds[line.end])) {
            flush_chunk();
            const char *text = arena_.At(line.text);
            std::size_t length = line.length + kEnds[line.end].size();
            if (run_length && run + run_length == text) {
                run_length += length;
            } else {
                flush_run();
                run = text;
                run_length = length;
            }
            return;
        }
        flush_run();
        EmitLine(line, chunk);
        if (chunk.size() >= kPiece) flush_chunk();
    };
    for (const Section &s : sections_) {
        if (s.dead) continue;
        if (s.has_header) emit(s.header);
        for (const Line &l : s.lines) {
            if (!l.dead) emit(l);
        }
    }
    flush_run();
    flush_chunk();
}

std::string ProfileDocument::Serialize() const
{
    std::string out;
    SerializeTo([&out](std::string_view piece) { out.append(piece); });
    return out;
}

}  // namespace host
