#include "platform/znDirSearch.h"

#include <algorithm>
#include <vector>

namespace {

// Matches a case-folded name against a case-folded mask. Each "*" tries
// every rest of the name, so without memory a mask such as "*a*a*a...b"
// takes exponential time; a state (name position, mask position) that
// failed once is remembered and never tried again, which bounds the work
// by the product of the two lengths.
class TznWildcardMatch
{
public:
    TznWildcardMatch(const QString& name, const QString& mask)
        : FName(name), FMask(mask), FFailed(std::size_t(name.size() + 1) * std::size_t(mask.size() + 1), false)
    {
    }

    bool From(qsizetype n, qsizetype m)
    {
        const std::size_t state = std::size_t(n) * std::size_t(FMask.size() + 1) + std::size_t(m);
        if (FFailed[state])
            return false;
        const bool matched = step(n, m);
        if (!matched)
            FFailed[state] = true;
        return matched;
    }

private:
    // Matches name[n..] against mask[m..].
    bool step(qsizetype n, qsizetype m)
    {
        const QString& name = FName;
        const QString& mask = FMask;
        while (m < mask.size()) {
            const QChar c = mask[m];
            if (c == u'*') {
                while (m < mask.size() && mask[m] == u'*')
                    ++m;
                if (m == mask.size())
                    return true;
                for (qsizetype k = n; k <= name.size(); ++k)
                    if (From(k, m))
                        return true;
                return false;
            }
            if (c == u'?') {
                const bool mayBeEmpty = m + 1 == mask.size() || mask[m + 1] == u'.' || mask[m + 1] == u'?';
                if (n < name.size() && From(n + 1, m + 1))
                    return true;
                if (!mayBeEmpty)
                    return false;
                // "?" before "." or at the end takes nothing only when the name
                // has no character left there to take, or a "." comes next.
                if (n < name.size() && name[n] != u'.')
                    return false;
                ++m;
                continue;
            }
            if (c == u'.' && n == name.size()) {
                // A trailing ".", ".*" or ".?" also matches a name without one.
                qsizetype k = m + 1;
                while (k < mask.size() && (mask[k] == u'*' || mask[k] == u'?'))
                    ++k;
                return k == mask.size();
            }
            if (n >= name.size() || name[n] != c)
                return false;
            ++n;
            ++m;
        }
        return n == name.size();
    }

    const QString& FName;
    const QString& FMask;
    std::vector<bool> FFailed;
};

} // namespace

bool MatchesWildcard(const QString& name, const QString& mask)
{
    if (mask == u"*" || mask == u"*.*")
        return true;
    const QString foldedName = name.toCaseFolded();
    const QString foldedMask = mask.toCaseFolded();
    return TznWildcardMatch(foldedName, foldedMask).From(0, 0);
}

void SortByName(std::vector<TznSearchRec>& entries)
{
    std::sort(entries.begin(), entries.end(), [](const TznSearchRec& a, const TznSearchRec& b) {
        const int c = a.Name.compare(b.Name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.Name < b.Name;
    });
}
