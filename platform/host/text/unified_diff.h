// A unified diff of two texts, line by line, as `diff -u` prints it and
// `patch` takes it: what the preview shows of the win.ini a run would
// write.
#ifndef PFMSETUP_PLATFORM_HOST_UNIFIED_DIFF_H
#define PFMSETUP_PLATFORM_HOST_UNIFIED_DIFF_H

#include <functional>
#include <string>
#include <string_view>

namespace host {

// The diff from `before` to `after`, "" when they are the same. Lines end
// after each '\n'; each line's text, without its CR LF or LF, goes through
// `shown` (a conversion to the terminal's character set, say) and is
// followed by the line end it had, so that the diff applies to the file's
// own bytes. A last line without a line end is marked as diff marks it.
// Three lines of context; a change of more than a few thousand lines is one
// hunk from the first changed line to the last.
std::string UnifiedDiff(std::string_view before, std::string_view after, const std::string &name,
                        const std::function<std::string(std::string_view)> &shown);

}  // namespace host

#endif
