#include "platform/host/text/unified_diff.h"

#include <algorithm>
#include <vector>

namespace host {
namespace {

constexpr std::size_t kContext = 3;
// Beyond this many inserted and deleted lines the shortest edit is not
// sought: the lines between the common start and end are replaced whole.
constexpr long kMostEdits = 1000;

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

enum class Op : char { kSame = ' ', kDelete = '-', kInsert = '+' };

// The shortest edit from a[0..n) to b[0..m) (Myers' greedy algorithm), or
// false when it needs more than kMostEdits steps.
bool ShortestEdit(const std::string_view *a, long n, const std::string_view *b, long m, std::vector<Op> *ops)
{
    const long most = std::min(n + m, kMostEdits);
    std::vector<std::vector<long>> trace;  // per step d, x of diagonals -d..d
    std::vector<long> v(2 * most + 3, 0);
    const long offset = most + 1;
    for (long d = 0; d <= most; ++d) {
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                   : v[offset + k - 1] + 1;
            long y = x - k;
            while (x < n && y < m && a[x] == b[y]) ++x, ++y;
            v[offset + k] = x;
            if (x >= n && y >= m) {
                trace.emplace_back(v.begin() + offset - d, v.begin() + offset + d + 1);
                // Walk back from (n, m), step by step.
                long cx = n, cy = m;
                for (long s = d; s > 0; --s) {
                    const std::vector<long> &prev = trace[s - 1];
                    long ck = cx - cy;
                    auto at = [&](long kk) { return prev[kk + (s - 1)]; };
                    bool down = ck == -s || (ck != s && at(ck - 1) < at(ck + 1));
                    long pk = down ? ck + 1 : ck - 1;
                    long px = at(pk), py = px - pk;
                    long sx = down ? px : px + 1;  // where the snake starts
                    while (cx > sx) ops->push_back(Op::kSame), --cx, --cy;
                    ops->push_back(down ? Op::kInsert : Op::kDelete);
                    cx = px;
                    cy = py;
                }
                while (cx > 0) ops->push_back(Op::kSame), --cx;
                std::reverse(ops->begin(), ops->end());
                return true;
            }
        }
        trace.emplace_back(v.begin() + offset - d, v.begin() + offset + d + 1);
    }
    return false;
}

void Range(std::string *out, std::size_t start, std::size_t count)
{
    // An empty range names the line before it, as diff does.
    *out += std::to_string(count == 0 ? start : start + 1);
    if (count != 1) *out += "," + std::to_string(count);
}

}  // namespace

std::string UnifiedDiff(std::string_view before, std::string_view after, const std::string &name,
                        const std::function<std::string(std::string_view)> &shown)
{
    if (before == after) return {};
    std::vector<std::string_view> a = Lines(before), b = Lines(after);
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    std::vector<Op> middle;
    long n = static_cast<long>(a.size() - head - tail), m = static_cast<long>(b.size() - head - tail);
    if (!ShortestEdit(a.data() + head, n, b.data() + head, m, &middle)) {
        middle.assign(static_cast<std::size_t>(n), Op::kDelete);
        middle.insert(middle.end(), static_cast<std::size_t>(m), Op::kInsert);
    }
    std::vector<Op> ops(head, Op::kSame);
    ops.insert(ops.end(), middle.begin(), middle.end());
    ops.insert(ops.end(), tail, Op::kSame);

    auto line = [&](std::string *out, char sign, std::string_view text) {
        bool lf = !text.empty() && text.back() == '\n';
        if (lf) text.remove_suffix(1);
        bool cr = lf && !text.empty() && text.back() == '\r';
        if (cr) text.remove_suffix(1);
        *out += sign;
        *out += shown(text);
        *out += cr ? "\r\n" : lf ? "\n" : "\n\\ No newline at end of file\n";
    };
    std::string out = "--- " + name + "\n+++ " + name + "\n";
    std::size_t i = 0;
    while (i < ops.size()) {
        while (i < ops.size() && ops[i] == Op::kSame) ++i;
        if (i == ops.size()) break;
        // A hunk: from kContext lines before this change to kContext lines
        // after the last change that lies within 2 * kContext of the next.
        std::size_t start = i >= kContext ? i - kContext : 0, end = i;
        while (end < ops.size()) {
            std::size_t same = 0;
            while (end + same < ops.size() && ops[end + same] == Op::kSame) ++same;
            if (end + same == ops.size() || same > 2 * kContext) {
                end += std::min(same, kContext);
                break;
            }
            end += same;
            while (end < ops.size() && ops[end] != Op::kSame) ++end;
        }
        std::size_t ai = 0, bi = 0;
        for (std::size_t j = 0; j < start; ++j) {
            ai += ops[j] != Op::kInsert;
            bi += ops[j] != Op::kDelete;
        }
        std::size_t a_count = 0, b_count = 0;
        for (std::size_t j = start; j < end; ++j) {
            a_count += ops[j] != Op::kInsert;
            b_count += ops[j] != Op::kDelete;
        }
        out += "@@ -";
        Range(&out, ai, a_count);
        out += " +";
        Range(&out, bi, b_count);
        out += " @@\n";
        for (std::size_t j = start; j < end; ++j) {
            if (ops[j] == Op::kInsert) line(&out, '+', b[bi++]);
            else if (ops[j] == Op::kDelete) line(&out, '-', a[ai++]);
            else {
                line(&out, ' ', a[ai++]);
                ++bi;
            }
        }
        i = end;
    }
    return out;
}

}  // namespace host
