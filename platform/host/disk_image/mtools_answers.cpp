#include "platform/host/disk_image/mtools_answers.h"

#include <cctype>
#include <cstdlib>
#include <set>

namespace host {
namespace {

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool IsDate(std::string_view t)
{
    return t.size() == 10 && t[4] == '-' && t[7] == '-' && std::isdigit((unsigned char)t[0]) &&
           std::isdigit((unsigned char)t[9]);
}

// One line of mdir's listing: "NAME     EXT      SIZE DATE  TIME  long name",
// SIZE being <DIR> for a folder; false for the lines around the entries.
bool ParseEntryLine(std::string_view line, DriveEntry *entry)
{
    std::vector<std::string_view> tokens;
    size_t pos = 0, date_end = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ') ++pos;
        size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) end = line.size();
        if (end > pos) tokens.push_back(line.substr(pos, end - pos));
        pos = end;
        if (!tokens.empty() && IsDate(tokens.back())) {
            date_end = pos;
            break;
        }
    }
    if (!date_end || tokens.size() < 3 || tokens.size() > 4) return false;
    std::string_view size = tokens[tokens.size() - 2];
    std::string name(tokens[0]);
    if (tokens.size() == 4) name += "." + std::string(tokens[1]);
    // The time, then two spaces and the long name where there is one.
    std::string_view rest = line.substr(date_end);
    while (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
    size_t time_end = rest.find(' ');
    std::string_view time = rest.substr(0, time_end);
    if (time.empty() || time.find(':') == std::string_view::npos) return false;
    rest = time_end == std::string_view::npos ? std::string_view() : rest.substr(time_end);
    if (rest.size() > 2 && rest.substr(0, 2) == "  ") {
        std::string_view long_name = rest.substr(2);
        while (!long_name.empty() && long_name.back() == ' ') long_name.remove_suffix(1);
        if (!long_name.empty()) name = std::string(long_name);
    }
    DriveEntry e;
    e.name = name;
    if (size == "<DIR>") {
        e.folder = true;
    } else {
        for (char c : size) {
            if (!std::isdigit((unsigned char)c)) return false;
            e.size = e.size * 10 + uint64_t(c - '0');
        }
    }
    *entry = e;
    return true;
}

// The figure of mdir's last line, "   66 566 144 bytes free".
bool ParseBytesFree(std::string_view line, uint64_t *bytes)
{
    size_t at = line.find(" bytes free");
    if (at == std::string_view::npos) return false;
    uint64_t value = 0;
    for (char c : line.substr(0, at))
        if (std::isdigit((unsigned char)c)) value = value * 10 + uint64_t(c - '0');
    *bytes = value;
    return true;
}

// mattrib's letters before a path ("  A  SHR     ::/PATH").
void SetAttributes(std::string_view flags, DriveEntry *entry)
{
    entry->read_only = flags.find('R') != std::string_view::npos;
    entry->kept_attributes.clear();
    for (char letter : {'H', 'S', 'A'})
        if (flags.find(letter) != std::string_view::npos) entry->kept_attributes += letter;
    entry->attributes_read = true;
}

}  // namespace

// The lines of mdir's listing around its entries: the volume's label and
// serial number, "Directory for ::/PATH", blank lines, "No files",
// "  2 files   3 bytes".
bool IsFrameLine(std::string_view line)
{
    auto starts = [&](std::string_view head) { return line.substr(0, head.size()) == head; };
    if (line.find_first_not_of(' ') == std::string_view::npos) return true;
    if (starts(" Volume in drive ") || starts(" Volume Serial Number ") || starts("Directory for ") ||
        line == "No files")
        return true;
    std::string_view rest = line.substr(line.find_first_not_of(' '));
    size_t digits = 0;
    while (digits < rest.size() && std::isdigit((unsigned char)rest[digits])) ++digits;
    rest.remove_prefix(digits);
    return digits > 0 && (rest.substr(0, 6) == " file " || rest.substr(0, 7) == " files ") &&
           line.size() > 6 && line.substr(line.size() - 6) == " bytes";
}

MdirAnswer ParseMdirAnswer(std::string_view out)
{
    MdirAnswer answer;
    for (std::string_view line : Lines(out)) {
        DriveEntry e;
        if (ParseBytesFree(line, &answer.bytes_free)) continue;
        if (!ParseEntryLine(line, &e)) {
            if (!IsFrameLine(line) && answer.unread_line.empty()) answer.unread_line = std::string(line);
            continue;
        }
        if (e.name == "." || e.name == "..") {
            answer.dot_entries = true;
            continue;
        }
        answer.entries.push_back(e);
    }
    return answer;
}

void ApplyMattribAnswer(std::string_view out, std::vector<DriveEntry> *entries)
{
    for (std::string_view line : Lines(out)) {
        size_t at = line.find("::/");
        if (at == std::string_view::npos) continue;
        std::string_view flags = line.substr(0, at);
        std::string_view path = line.substr(at);
        std::string name(path.substr(path.rfind('/') + 1));
        for (DriveEntry &e : *entries)
            if (e.name == name) SetAttributes(flags, &e);
    }
}

bool ParseMattribAnswer(std::string_view out, DriveEntry *entry)
{
    size_t at = out.find("::/");
    if (at == std::string_view::npos) return false;
    SetAttributes(out.substr(0, at), entry);
    return true;
}

ChainAnswer ParseMshowfatAnswer(std::string_view text, uint64_t limit)
{
    ChainAnswer answer;
    std::set<long> seen;
    for (size_t open = text.find('<'); open != std::string_view::npos; open = text.find('<', open + 1)) {
        size_t close = text.find('>', open);
        if (close == std::string_view::npos) break;
        std::string run(text.substr(open + 1, close - open - 1));
        char *end = nullptr;
        long first = std::strtol(run.c_str(), &end, 10);
        if (end == run.c_str()) continue;
        if (!answer.first) answer.first = first;
        long last = *end == '-' ? std::strtol(end + 1, nullptr, 10) : first;
        // Stepped without passing `last`: a run may end at the largest
        // number there is.
        for (long c = first; c <= last && answer.clusters <= limit;) {
            if (!seen.insert(c).second) {
                answer.loops = true;
                return answer;
            }
            ++answer.clusters;
            if (c == last) break;
            ++c;
        }
    }
    return answer;
}

}  // namespace host
